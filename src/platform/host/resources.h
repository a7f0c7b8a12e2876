// The application module's resources as the virtual handheld sees them: strings, dialog
// templates and icon files, by resource id.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/host/seam.h"

namespace host {

struct DialogItem {
    std::u16string window_class;  // "STATIC", "BUTTON", ...
    std::u16string text;          // text, or for an icon control its resource id as "#128"
    int id = -1;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    DWORD style = 0;
};

struct DialogTemplate {
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    DWORD style = 0;
    DWORD ex_style = 0;
    std::u16string caption;
    std::u16string font;
    int font_size = 8;
    std::vector<DialogItem> items;
};

struct ResourceTable {
    std::map<UINT, std::u16string> strings;
    std::map<UINT, DialogTemplate> dialogs;
    std::map<UINT, std::string> icon_files;   // path of the .ico file
    std::map<UINT, std::vector<BYTE>> icons;  // contents of the .ico file, compiled in
};

// Dialog units to pixels on the handheld's screen: the system font's average character is
// 6 x 12 pixels, a horizontal unit a quarter of its width and a vertical one an eighth of its height.
constexpr int kDialogBaseX = 6;
constexpr int kDialogBaseY = 12;

}  // namespace host
