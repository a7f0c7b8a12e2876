// The tray, the cursor, popup menus and the program's resources, recorded as the host records
// them. A tracked menu's rectangle and the item chosen are the desktop's to know: the record has
// the call's result only.
#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "platform/win32/desktop.h"

using win32trace::On;

namespace {

// The resource each loaded icon came from, so that the tray's record says which icon it shows.
std::map<HANDLE, std::int64_t> g_icons;

BOOL NotifyIcon(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
    BOOL ok = Shell_NotifyIconW(dwMessage, lpData);
    if (ok && lpData && (dwMessage == NIM_ADD || dwMessage == NIM_MODIFY) && (lpData->uFlags & NIF_MESSAGE))
        desktop::NotifyOncePerClick(lpData->hWnd, lpData->uCallbackMessage);
    return ok;
}

}  // namespace

BOOL WINAPI TracedShell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
    if (!On()) return NotifyIcon(dwMessage, lpData);
    tracing::ShellNotifyIconCall c(dwMessage, lpData);
    if (lpData && c.on()) {
        auto icon = g_icons.find(lpData->hIcon);
        const auto* tip = reinterpret_cast<const char16_t*>(lpData->szTip);
        c.Fields({lpData->cbSize, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(lpData->hWnd)), lpData->uID,
                  lpData->uFlags, lpData->uCallbackMessage,
                  static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(lpData->hIcon)),
                  icon == g_icons.end() ? std::nullopt : std::optional<std::int64_t>(icon->second),
                  std::u16string_view(tip, std::find(tip, tip + std::size(lpData->szTip), u'\0') - tip)});
    }
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(NotifyIcon(dwMessage, lpData));
}

BOOL WINAPI TracedGetCursorPos(LPPOINT lpPoint) {
    if (!On()) return GetCursorPos(lpPoint);
    tracing::GetCursorPosCall c(lpPoint);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCursorPos(lpPoint);
    if (ok) c.Position(lpPoint->x, lpPoint->y);
    return c.Result(ok);
}

HMENU WINAPI TracedCreatePopupMenu() {
    if (!On()) return CreatePopupMenu();
    tracing::CreatePopupMenuCall c;
    if (DWORD e; c.Injected(&e)) return c.Result<HMENU>(nullptr);
    return c.Result(CreatePopupMenu());
}

BOOL WINAPI TracedAppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    if (!On()) return AppendMenuW(hMenu, uFlags, uIDNewItem, lpNewItem);
    tracing::AppendMenuCall c(hMenu, uFlags, uIDNewItem, lpNewItem);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(AppendMenuW(hMenu, uFlags, uIDNewItem, lpNewItem));
}

DWORD WINAPI TracedCheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
    if (!On()) return CheckMenuItem(hMenu, uIDCheckItem, uCheck);
    tracing::CheckMenuItemCall c(hMenu, uIDCheckItem, uCheck);
    if (DWORD e; c.Injected(&e)) return c.Result<DWORD>(0xFFFFFFFF);
    return c.Result(CheckMenuItem(hMenu, uIDCheckItem, uCheck));
}

BOOL WINAPI TracedDestroyMenu(HMENU hMenu) {
    if (!On()) return DestroyMenu(hMenu);
    tracing::DestroyMenuCall c(hMenu);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(DestroyMenu(hMenu));
}

BOOL WINAPI TracedTrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                                 const RECT* prcRect) {
    if (!On()) return desktop::TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    tracing::TrackPopupMenuCall c(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(desktop::TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect));
}

HANDLE WINAPI TracedLoadImage(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    if (!On()) return LoadImageW(hInst, name, type, cx, cy, fuLoad);
    tracing::LoadImageCall c(hInst, name, type, cx, cy, fuLoad);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    HANDLE image = LoadImageW(hInst, name, type, cx, cy, fuLoad);
    if (image && type == IMAGE_ICON && IS_INTRESOURCE(name) && c.on())
        g_icons[image] = static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(name));
    return c.Result(image);
}

int WINAPI TracedLoadString(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    if (!On()) return LoadStringW(hInstance, uID, lpBuffer, cchBufferMax);
    tracing::LoadStringCall c(uID, cchBufferMax);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    return c.Result(LoadStringW(hInstance, uID, lpBuffer, cchBufferMax));
}
