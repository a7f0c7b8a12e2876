// What a person can see of a device, taken from it in one go: the screen (the tray, and the menus,
// message boxes and dialogs open), the hardware beside it (pins, AC line, backlight, COM1), the
// named events set, and the settings other programs read (GPSHDL, the time-outs in force).
// `handheld status`, pelorn's face and pelorn's log lines all read this one view.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/handheld.h"
#include "platform/host/icons.h"
#include "platform/host/windows.h"

namespace tools {

struct DeviceView {
    struct TrayIcon {
        HWND window = nullptr;
        UINT id = 0;
        RECT rect{};
        std::optional<UINT> resource;
        host::IconImage picture;
        bool operator==(const TrayIcon& o) const;
    };
    struct Item {
        UINT id = 0;
        std::string text;  // as shown: without the mnemonic's '&'
        bool checked = false;
        bool grayed = false;
        bool separator = false;
        RECT rect{};  // while the menu is open
        bool operator==(const Item& o) const;
    };
    // A dialog's control: a line of text, or an icon.
    struct Control {
        RECT rect{};
        std::string text;
        host::IconImage icon;
        bool operator==(const Control& o) const;
    };
    struct Modal {
        host::Modal::Kind kind = host::Modal::Kind::kMessageBox;
        int id = 0;
        RECT rect{};
        std::string caption;
        std::string text;
        std::vector<Item> items;        // a menu's
        std::vector<Control> controls;  // a dialog's
        bool operator==(const Modal& o) const;
    };

    std::optional<DWORD> window;  // GPSHDL as published; 0 after a close
    std::vector<TrayIcon> tray;
    std::vector<Item> menu;     // the system's popup menu, open or not
    std::vector<Modal> modals;  // innermost last

    bool pin21 = false;
    bool pin38 = false;
    std::optional<bool> pin38_hardware;  // empty while the hardware leaves the pin alone
    BYTE ac_line = 0;
    bool backlight_present = true;
    DWORD backlight_level = 0;
    std::optional<DWORD> battery_timeout;
    std::optional<DWORD> batt_suspend_timeout;
    std::map<std::string, int> events;  // named events by how often they were set
    std::string com1;                   // the mapping; empty: no COM1
    bool com1_open = false;

    // One power profile as the profile key holds it; a value is empty while it is missing.
    struct Profile {
        std::optional<DWORD> power_timeout, bl_timeout, slide, backlight, power;
        // The time-outs it puts in force: a disabled one is 0.
        std::optional<DWORD> BacklightTimeout() const;
        std::optional<DWORD> SuspendTimeout() const;
        bool operator==(const Profile& o) const;
        bool operator!=(const Profile& o) const { return !(*this == o); }
    };
    Profile gps, std_profile;
    std::optional<DWORD> temp_ac_timeout;
    std::optional<DWORD> state_chg;
    std::optional<std::string> firmware;  // FW as recorded at the first run

    // "GPS" or "STD": the profile whose time-outs BatteryTimeout and BattSuspendTimeout hold (pin
    // 38 decides when both do); empty when neither does, as before the first refresh.
    std::optional<std::string> ProfileInForce() const;

    bool operator==(const DeviceView& o) const;
    bool operator!=(const DeviceView& o) const { return !(*this == o); }
};

// The device as this process sees it now.
DeviceView Look(host::Handheld& device);
// Takes again into `view` the part this process holds in memory, cheap enough to look at after
// every turn of the loop: all but the registry's settings and COM1, which stay as they were.
void LookQuickly(host::Handheld& device, DeviceView* view);

// A menu item's or control's text as a person reads it: a single '&' only underlines the next
// character.
std::string Shown(std::u16string_view text);

}  // namespace tools
