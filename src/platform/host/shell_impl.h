// The shell's state, shared by the files that implement it: the tray and taps (shell.cpp,
// tray_api.cpp), icons (icon_api.cpp) and popup menus (menu_api.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/host/handheld.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace host {

// Icons and menus get handles of their own ranges, so that one passed for the other is caught.
constexpr std::uint32_t kFirstIcon = 0x00C00000;
constexpr std::uint32_t kFirstMenu = 0x00D00000;
constexpr DWORD kErrorInvalidData = 13;                             // ERROR_INVALID_DATA
constexpr DWORD kErrorPopupAlreadyActive = 1446;                    // ERROR_POPUP_ALREADY_ACTIVE
constexpr UINT kUnsupportedItemTypes = 0x0004 | 0x0100 | MF_POPUP;  // MF_BITMAP, MF_OWNERDRAW

inline std::uint32_t Value(const void* h) { return static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(h)); }
template <class H>
H As(std::uint32_t v) {
    return reinterpret_cast<H>(static_cast<ULONG_PTR>(v));
}

// Characters a menu text shows: a single '&' only underlines the next one.
int ShownLength(const std::u16string& text);
inline int ItemHeight(const MenuItem& item) { return item.separator ? kMenuSeparatorHeight : kMenuItemHeight; }

struct Shell::Impl {
    struct Menu {
        std::vector<MenuItem> items;
    };
    struct Icon {
        UINT resource;
        IconImage image;
    };
    struct Tracking {
        OpenMenu menu;
        std::optional<UINT> chosen;
    };

    explicit Impl(Handheld& device) : dev(device) {}

    Handheld& dev;
    std::vector<TrayIcon> tray;
    std::map<std::uint32_t, Menu> menus;
    std::map<std::uint32_t, Icon> icons;
    std::uint32_t next_menu = kFirstMenu;
    std::uint32_t next_icon = kFirstIcon;
    POINT cursor{0, 0};
    std::optional<Tracking> tracking;

    Menu* GetMenu(HMENU h) {
        auto it = menus.find(Value(h));
        return h && it != menus.end() ? &it->second : nullptr;
    }
    const Icon* GetIcon(HICON h) const {
        auto it = icons.find(Value(h));
        return h && it != icons.end() ? &it->second : nullptr;
    }
    std::vector<TrayIcon>::iterator FindTray(HWND window, UINT id) {
        return std::find_if(tray.begin(), tray.end(),
                            [&](const TrayIcon& t) { return t.window == window && t.id == id; });
    }

    std::optional<RECT> TrayRect(HWND window, UINT id) const {
        for (std::size_t i = 0; i < tray.size(); ++i) {
            if (tray[i].window != window || tray[i].id != id) continue;
            return TraySlotIcon(static_cast<int>(tray.size() - i - 1));
        }
        return std::nullopt;
    }

    static RECT MenuRect(const Menu& menu, UINT flags, int x, int y) {
        int longest = 0;
        int height = 0;
        for (const auto& item : menu.items) {
            if (!item.separator) longest = std::max(longest, ShownLength(item.text));
            height += ItemHeight(item);
        }
        int width = 2 * kMenuTextMargin + kMenuCharWidth * longest;
        int left = x, top = y;
        if (flags & TPM_RIGHTALIGN)
            left = x - width;
        else if (flags & TPM_CENTERALIGN)
            left = x - width / 2;
        if (flags & TPM_BOTTOMALIGN)
            top = y - height;
        else if (flags & TPM_VCENTERALIGN)
            top = y - height / 2;
        // A menu never leaves the screen: it is pushed back onto it.
        left = std::clamp(left, 0, std::max(0, kScreenWidth - width));
        top = std::clamp(top, 0, std::max(0, kScreenHeight - height));
        return RECT{left, top, left + width, top + height};
    }

    std::optional<RECT> OpenItemRect(std::size_t position) {
        if (!tracking) return std::nullopt;
        Menu* menu = GetMenu(tracking->menu.menu);
        if (!menu || position >= menu->items.size()) return std::nullopt;
        RECT r = tracking->menu.rect;
        LONG top = r.top;
        for (std::size_t i = 0; i < position; ++i)
            top += ItemHeight(menu->items[i]);
        return RECT{r.left, top, r.right, top + ItemHeight(menu->items[position])};
    }

    // The menu is what the person is looking at: nothing modal has opened above it.
    bool MenuOnTop() const {
        const Modal* top = dev.windows().TopModal();
        return tracking && top && top->id == tracking->menu.modal;
    }

    void CloseMenu() { dev.windows().CloseModal(tracking->menu.modal); }

    void Post(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
        QuietCalls quiet(dev);
        ::PostMessage(window, msg, wp, lp);
    }
};

// The shell of the device switched on in this process.
Shell::Impl& ShellImpl();

}  // namespace host
