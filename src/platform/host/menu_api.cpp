// Popup menus: made, filled, checked, tracked and destroyed.
#include "platform/host/shell_impl.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::ShellImpl;

HMENU CreatePopupMenu() {
    tracing::CreatePopupMenuCall c;
    if (DWORD e; c.Injected(&e)) return c.Result<HMENU>(nullptr);
    auto& s = ShellImpl();
    std::uint32_t handle = s.next_menu;
    s.next_menu += 4;
    s.menus[handle] = {};
    return c.Result(host::As<HMENU>(handle));
}

BOOL AppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    tracing::AppendMenuCall c(hMenu, uFlags, uIDNewItem, lpNewItem);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto* menu = ShellImpl().GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    if (uFlags & host::kUnsupportedItemTypes) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return c.Result(FALSE);
    }
    host::MenuItem item;
    item.id = static_cast<UINT>(uIDNewItem);
    item.separator = (uFlags & MF_SEPARATOR) != 0;
    if (!item.separator && lpNewItem) item.text = lpNewItem;
    item.checked = (uFlags & MF_CHECKED) != 0;
    item.grayed = (uFlags & MF_GRAYED) != 0;
    menu->items.push_back(std::move(item));
    return c.Result(TRUE);
}

DWORD CheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
    constexpr DWORD kNoSuchItem = 0xFFFFFFFF;
    tracing::CheckMenuItemCall c(hMenu, uIDCheckItem, uCheck);
    if (DWORD e; c.Injected(&e)) return c.Result(kNoSuchItem);
    auto* menu = ShellImpl().GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(kNoSuchItem);
    }
    host::MenuItem* item = nullptr;
    if (uCheck & MF_BYPOSITION) {
        if (uIDCheckItem < menu->items.size()) item = &menu->items[uIDCheckItem];
    } else {
        for (auto& i : menu->items)
            if (!i.separator && i.id == uIDCheckItem) {
                item = &i;
                break;
            }
    }
    if (!item) return c.Result(kNoSuchItem);
    DWORD previous = item->checked ? MF_CHECKED : MF_UNCHECKED;
    item->checked = (uCheck & MF_CHECKED) != 0;
    return c.Result(previous);
}

BOOL DestroyMenu(HMENU hMenu) {
    tracing::DestroyMenuCall c(hMenu);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& s = ShellImpl();
    if (!s.GetMenu(hMenu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    // A menu that is on the screen goes away with it, as if dismissed.
    if (s.tracking && s.tracking->menu.menu == hMenu) s.CloseMenu();
    s.menus.erase(host::Value(hMenu));
    return c.Result(TRUE);
}

BOOL IsMenu(HMENU hMenu) { return ShellImpl().GetMenu(hMenu) ? TRUE : FALSE; }

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect) {
    tracing::TrackPopupMenuCall c(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& s = ShellImpl();
    auto& wm = s.dev.windows();
    auto* menu = s.GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    if (!::IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    if (s.tracking) {
        SetLastError(host::kErrorPopupAlreadyActive);
        return c.Result(FALSE);
    }
    host::Modal m;
    m.kind = host::Modal::Kind::kMenu;
    m.window = hWnd;
    m.menu = hMenu;
    m.rect = host::Shell::Impl::MenuRect(*menu, uFlags, x, y);
    host::OpenMenu open{hMenu, hWnd, uFlags, m.rect, 0};
    open.modal = wm.OpenModal(std::move(m));
    s.tracking = host::Shell::Impl::Tracking{open, std::nullopt};
    c.Shown(open.rect);

    wm.RunModal(open.modal);
    wm.CloseModal(open.modal);  // still open when WM_QUIT ended the loop
    std::optional<UINT> chosen = s.tracking->chosen;
    s.tracking.reset();
    c.Chosen(chosen);

    if (uFlags & TPM_RETURNCMD) return c.Result(static_cast<BOOL>(chosen.value_or(0)));
    // The command arrives once the menu is gone, through the owner's queue.
    if (chosen) s.Post(hWnd, WM_COMMAND, MAKEWPARAM(*chosen, 0), 0);
    // Nothing chosen is no failure: the menu was shown and tracked.
    return c.Result(TRUE);
}
