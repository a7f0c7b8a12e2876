// The handheld's shell: the notification area (tray), popup menus, icons and the last tap.
//
// The system reaches it through Shell_NotifyIcon, the menu functions, TrackPopupMenu, LoadImage
// and GetCursorPos. Tools and tests look at what the person sees here (tray icons and their
// pictures, menus and their check marks, the open menu) and act for the person (tap the tray,
// choose a menu item, dismiss the menu).
//
// A tap on a tray icon posts the icon's callback message to its window with wParam = uID and
// lParam = WM_LBUTTONDOWN, and nothing on release: a handler that opens a menu on the press
// gets the stylus's release inside the menu, so the owner never sees WM_LBUTTONUP.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/icons.h"
#include "platform/host/seam.h"

namespace host {

class Handheld;

struct TrayIcon {
    HWND window = nullptr;
    UINT id = 0;
    UINT flags = 0;             // every NIF_ flag given so far
    UINT callback_message = 0;  // 0: taps are not reported
    HICON icon = nullptr;
    std::optional<UINT> icon_resource;  // the resource the icon was loaded from, if LoadImage made it
    std::u16string tip;
};

struct MenuItem {
    UINT id = 0;
    std::u16string text;
    bool checked = false;
    bool grayed = false;
    bool separator = false;
};

// The popup menu TrackPopupMenu shows now.
struct OpenMenu {
    HMENU menu = nullptr;
    HWND owner = nullptr;
    UINT flags = 0;  // TPM_ flags
    RECT rect{};     // on the screen
    int modal = 0;   // its entry in WindowManager::modals()
};

// A popup menu's items are kItemHeight pixels high (separators kSeparatorHeight) and as wide as
// the longest text at kCharWidth pixels a character, plus kTextMargin on each side (the left one
// holds the check mark).
constexpr int kMenuItemHeight = 18;
constexpr int kMenuSeparatorHeight = 8;
constexpr int kMenuCharWidth = 8;
constexpr int kMenuTextMargin = 12;
// Tray icons sit at the right end of the taskbar in the order they were added, kTraySlot pixels
// apart.
constexpr int kTraySlot = 20;
constexpr int kTrayIconSize = 16;
constexpr int kTrayRightMargin = 4;
// Where the tray shows the icon `from_right` slots from its right end (0: the rightmost).
RECT TraySlotIcon(int from_right);

class Shell {
public:
    explicit Shell(Handheld& device);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // --- what the person sees ---
    // The tray's icons, left to right.
    const std::vector<TrayIcon>& TrayIcons() const;
    const TrayIcon* FindTrayIcon(HWND window, UINT id) const;
    // Where an icon sits on the taskbar; empty when there is no such icon.
    std::optional<RECT> TrayIconRect(HWND window, UINT id) const;
    // Every popup menu that exists, oldest first.
    std::vector<HMENU> Menus() const;
    // A menu's items, in order; null when the handle names no menu.
    const std::vector<MenuItem>* MenuItems(HMENU menu) const;
    // The open popup menu; null when none is open.
    const OpenMenu* open_menu() const;
    // The screen rectangle of the open menu's item at `position`; empty when there is none.
    std::optional<RECT> OpenMenuItemRect(std::size_t position) const;
    // What LoadImage made an icon from: its resource id and its picture. Empty or null for a
    // handle LoadImage never returned.
    std::optional<UINT> IconResourceId(HICON icon) const;
    const IconImage* IconPixels(HICON icon) const;
    // Where the stylus last touched the screen; (0, 0) until the first tap.
    POINT cursor() const;

    // --- what the person does ---
    // Taps the tray icon (window, id), or the first one with that id, at (x, y) on the screen
    // (anywhere on the icon: the coordinates are the caller's). False when there is no such icon,
    // its window is gone, or a popup menu is open: that tap only closes the menu.
    bool TapTray(HWND window, UINT id, int x, int y);
    bool TapTray(UINT id, int x, int y);
    // Taps the centre of the icon.
    bool TapTray(UINT id);
    // Chooses the item with command `id` in the open menu: the menu closes, and its owner gets
    // WM_COMMAND once TrackPopupMenu has returned. False when no menu is the innermost modal
    // thing, or it has no such item, or the item is a separator or grayed.
    bool ChooseMenuItem(UINT id);
    // Taps beside the open menu: it closes and nothing is chosen. False when no menu is the
    // innermost modal thing.
    bool DismissMenu();

    // --- the seam's side ---
    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace host
