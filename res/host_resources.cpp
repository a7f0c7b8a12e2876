#include "res/host_resources.h"
// What res/pelorn.rc says, for the virtual handheld (tests/app/resources_test.cpp holds them together).

#include "res/resource.h"

const host::ResourceTable& PelornResources() {
    static const host::ResourceTable table = [] {
        host::ResourceTable t;
        t.icons = EmbeddedIcons();
        t.strings[IDR_FRAME] = u"Pelorn\n\nPelorn\n\n\nPelorn.Document\nPelorn Document";
        t.strings[IDS_COM_OPEN_ERROR] = u"Fehler beim \u00D6ffnen des COM Ports";

        host::DialogTemplate about;
        about.x = 0;
        about.y = 0;
        about.cx = 140;
        about.cy = 57;
        about.style = 0x80C00040;     // popup, caption, font set
        about.ex_style = 0x80000000;  // the caption's OK button
        about.caption = u"About Pelorn";
        about.font = u"System";
        about.font_size = 8;
        about.items = {
            {u"STATIC", u"#128", IDC_ABOUT_ICON, 11, 17, 20, 20, 0x00000003},  // SS_ICON
            {u"STATIC", u"Pelorn Version 1.0", IDC_ABOUT_VERSION, 40, 10, 65, 8, 0},
            {u"STATIC", u"GPS power switch", IDC_ABOUT_COPYRIGHT, 40, 25, 65, 8, 0},
        };
        t.dialogs[IDD_ABOUTBOX] = about;
        return t;
    }();
    return table;
}
