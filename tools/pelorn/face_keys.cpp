// The face's keys: what a person at the terminal does to the handheld, as the person at the
// handheld or another program would.
#define NCURSES_WIDECHAR 1
#include "pelorn/face.h"

#include <curses.h>

#include <cstring>

#include "common/control.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "platform/host/shell.h"
#include "platform/host/trace.h"
#include "settings/settings.h"

namespace pelorn {

int Face::MenuSelection(const FaceState::Modal& menu, int from, int step) const {
    const int n = static_cast<int>(menu.items.size());
    for (int k = 1; k <= n; ++k) {
        int i = ((from + step * k) % n + n) % n;
        if (!menu.items[i].separator && !menu.items[i].grayed) return i;
    }
    return -1;
}

void Face::Send(const char* what) {
    // As another program finds the window: by the handle the system published.
    const tools::ControlMessage& message = *tools::FindControlMessage(what);
    std::optional<DWORD> handle = tools::PublishedWindow(device_);
    if (!handle || *handle == 0) {
        note_ = std::string(what) + ": GPSHDL names no window";
        return;
    }
    note_ = std::string("sent ") + what;
    if (!::IsWindow(tools::WindowOf(*handle))) {
        note_ = std::string(what) + ": the window GPSHDL names is gone";
        return;
    }
    ::SendMessage(tools::WindowOf(*handle), message.msg, message.wparam, 0);
}

void Face::Handle(const Key& key) {
    host::WindowManager& wm = device_.windows();
    host::Shell& shell = device_.shell();
    const host::Modal* top = wm.TopModal();
    const bool menu = top && top->kind == host::Modal::Kind::kMenu;
    const bool enter =
        (!key.function && (key.code == '\r' || key.code == '\n')) || (key.function && key.code == KEY_ENTER);
    const bool escape = !key.function && key.code == 27;

    if (help_) {
        help_ = false;  // any key closes the list of keys, and does nothing else
        return;
    }
    if (!key.function && key.code == '?') {
        help_ = true;
        return;
    }
    if (key.mouse_x >= 0) {
        if (!frame_ || !frame_->Inside(key.mouse_x, key.mouse_y)) return;
        const Hit& hit = frame_->HitAt(key.mouse_x, key.mouse_y);
        if (hit.kind == Hit::Kind::kTray)
            note_ = "tapped the icon at (" + std::to_string(hit.x) + ", " + std::to_string(hit.y) + ")";
        else if (hit.kind == Hit::Kind::kNone)
            note_ = "nothing to tap there";
        else if (hit.kind == Hit::Kind::kOk)
            note_ = "answered OK";
        else if (hit.kind == Hit::Kind::kBesideMenu)
            note_ = "menu dismissed";
        else if (shown_ && !shown_->modals.empty())
            for (const FaceState::Item& item : shown_->modals.back().items)
                if (item.id == hit.id) note_ = "chose " + item.text;
        Perform(device_, hit);
        return;
    }
    if (menu && shown_ && !shown_->modals.empty() && shown_->modals.back().kind == host::Modal::Kind::kMenu) {
        const FaceState::Modal& m = shown_->modals.back();
        if (key.function && (key.code == KEY_UP || key.code == KEY_DOWN)) {
            int next = MenuSelection(m, selected_ < 0 ? (key.code == KEY_UP ? 0 : -1) : selected_,
                                     key.code == KEY_UP ? -1 : 1);
            if (next >= 0) selected_ = next;
            return;
        }
        if (enter || (!key.function && key.code == ' ')) {
            if (selected_ >= 0 && selected_ < static_cast<int>(m.items.size())) {
                note_ = "chose " + m.items[selected_].text;
                shell.ChooseMenuItem(m.items[selected_].id);
            }
            return;
        }
        if (escape) {
            note_ = "menu dismissed";
            shell.DismissMenu();
            return;
        }
    }
    if (top && !menu && (enter || escape || (!key.function && (key.code == ' ' || key.code == 'o')))) {
        note_ = "answered OK";
        wm.AcknowledgeTopModal();
        return;
    }
    if (key.function) return;
    switch (key.code) {
        case 't': {
            const std::vector<host::TrayIcon>& tray = shell.TrayIcons();
            if (tray.empty()) {
                note_ = "no tray icon to tap (s shows it)";
                return;
            }
            std::optional<RECT> r = shell.TrayIconRect(tray.front().window, tray.front().id);
            int x = r ? (r->left + r->right) / 2 : 0, y = r ? (r->top + r->bottom) / 2 : 0;
            note_ = "tapped the icon at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
            shell.TapTray(tray.front().window, tray.front().id, x, y);
            return;
        }
        case 'a': {
            bool online = device_.power().ac_line() == AC_LINE_ONLINE;
            device_.power().SetAcLine(online ? AC_LINE_OFFLINE : AC_LINE_ONLINE);
            note_ = online ? "AC line: on battery" : "AC line: online";
            return;
        }
        case 'p': {
            // Left alone -> held high -> held low -> left alone.
            std::optional<bool> now = device_.gpio().HardwareLevel(38);
            std::optional<bool> next = !now   ? std::optional<bool>(true)
                                       : *now ? std::optional<bool>(false)
                                              : std::nullopt;
            device_.gpio().DrivePin38(next);
            note_ = !next ? "pin 38: the hardware lets go" : *next ? "pin 38: held high" : "pin 38: held low";
            return;
        }
        case 'c': {
            host::RegistryStore& registry = device_.registry();
            host::RegKeyId profile = 0;
            const std::vector<BYTE> one = host::DwordData(1);
            if (registry.OpenKey(host::RegistryStore::Root(HKEY_CURRENT_USER), PROFILE_KEY_PATH, &profile) ==
                    ERROR_SUCCESS &&
                registry.SetValue(profile, STATE_CHG_VALUE, REG_DWORD, one.data(), one.size()) == ERROR_SUCCESS)
                note_ = "State_Chg set to 1";
            else
                note_ = "State_Chg: the profile key is missing";
            return;
        }
        case 's':
            return Send("show");
        case 'h':
            return Send("hide");
        case 'r':
            return Send("reset");
        case 'i':
            return Send("about");
        case 'x':
        case 'q':
            return Send("close");
        case 12:  // Ctrl-L
            clearok(curscr, TRUE);
            Draw(true);
            return;
        default:
            return;
    }
}

}  // namespace pelorn
