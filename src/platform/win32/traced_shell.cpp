// The tray, the cursor, popup menus and the program's resources, recorded as the host records
// them. A tracked menu's rectangle and the item chosen are the desktop's to know: the record has
// the call's result only.
#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "platform/win32/desktop.h"

using tracing::ApiCall;
using tracing::TraceValue;
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
    ApiCall c("Shell_NotifyIcon");
    c.Arg("dwMessage", dwMessage);
    if (!lpData) {
        c.ArgPtr("lpData", nullptr);
    } else if (c.on()) {
        c.Arg("cbSize", lpData->cbSize).ArgPtr("hWnd", lpData->hWnd).Arg("uID", lpData->uID);
        c.ArgHex("uFlags", lpData->uFlags).ArgHex("uCallbackMessage", lpData->uCallbackMessage);
        c.ArgPtr("hIcon", lpData->hIcon);
        auto icon = g_icons.find(lpData->hIcon);
        c.Out("icon", icon == g_icons.end() ? TraceValue::Null() : TraceValue::Int(icon->second));
        if (lpData->uFlags & NIF_TIP) {
            const WCHAR* tip = lpData->szTip;
            c.ArgW("szTip", std::wstring(tip, std::find(tip, tip + std::size(lpData->szTip), L'\0')).c_str());
        }
    }
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(NotifyIcon(dwMessage, lpData));
}

BOOL WINAPI TracedGetCursorPos(LPPOINT lpPoint) {
    if (!On()) return GetCursorPos(lpPoint);
    ApiCall c("GetCursorPos");
    c.ArgMem("lpPoint", lpPoint);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCursorPos(lpPoint);
    if (ok) c.Out("x", TraceValue::Int(lpPoint->x)).Out("y", TraceValue::Int(lpPoint->y));
    return c.Result(ok);
}

HMENU WINAPI TracedCreatePopupMenu() {
    if (!On()) return CreatePopupMenu();
    ApiCall c("CreatePopupMenu");
    if (DWORD e; c.Injected(&e)) return c.Result<HMENU>(nullptr);
    return c.Result(CreatePopupMenu());
}

BOOL WINAPI TracedAppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    if (!On()) return AppendMenuW(hMenu, uFlags, uIDNewItem, lpNewItem);
    ApiCall c("AppendMenu");
    c.ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("uIDNewItem", static_cast<std::int64_t>(uIDNewItem));
    if (uFlags & MF_SEPARATOR)
        c.ArgPtr("lpNewItem", lpNewItem);
    else
        c.ArgW("lpNewItem", lpNewItem);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(AppendMenuW(hMenu, uFlags, uIDNewItem, lpNewItem));
}

DWORD WINAPI TracedCheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
    if (!On()) return CheckMenuItem(hMenu, uIDCheckItem, uCheck);
    ApiCall c("CheckMenuItem");
    c.ArgPtr("hMenu", hMenu).Arg("uIDCheckItem", uIDCheckItem).ArgHex("uCheck", uCheck);
    if (DWORD e; c.Injected(&e)) return c.Result<DWORD>(0xFFFFFFFF);
    return c.Result(CheckMenuItem(hMenu, uIDCheckItem, uCheck));
}

BOOL WINAPI TracedDestroyMenu(HMENU hMenu) {
    if (!On()) return DestroyMenu(hMenu);
    ApiCall c("DestroyMenu");
    c.ArgPtr("hMenu", hMenu);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(DestroyMenu(hMenu));
}

BOOL WINAPI TracedTrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                                 const RECT* prcRect) {
    if (!On()) return TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    ApiCall c("TrackPopupMenu");
    c.ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("x", x).Arg("y", y).Arg("nReserved", nReserved);
    c.ArgPtr("hWnd", hWnd).ArgPtr("prcRect", prcRect);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect));
}

HANDLE WINAPI TracedLoadImage(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    if (!On()) return LoadImageW(hInst, name, type, cx, cy, fuLoad);
    ApiCall c("LoadImage");
    c.ArgPtr("hInst", hInst);
    if (IS_INTRESOURCE(name))
        c.Arg("name", static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(name)));
    else
        c.ArgW("name", name);
    c.Arg("type", type).Arg("cx", cx).Arg("cy", cy).ArgHex("fuLoad", fuLoad);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    HANDLE image = LoadImageW(hInst, name, type, cx, cy, fuLoad);
    if (image && type == IMAGE_ICON && IS_INTRESOURCE(name) && c.on())
        g_icons[image] = static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(name));
    return c.Result(image);
}

int WINAPI TracedLoadString(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    if (!On()) return LoadStringW(hInstance, uID, lpBuffer, cchBufferMax);
    ApiCall c("LoadString");
    c.Arg("uID", uID).Arg("cchBufferMax", cchBufferMax);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    return c.Result(LoadStringW(hInstance, uID, lpBuffer, cchBufferMax));
}
