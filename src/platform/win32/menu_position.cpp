// The handheld puts a popup menu where TrackPopupMenu asks, kept on the screen. The desktop keeps
// it in the work area besides, off the taskbar's rows, and so lifts a menu asked for at the
// screen's bottom row above the taskbar. While a menu is tracked, the window the desktop creates
// for it is subclassed, and placed where the handheld places it.
#include <algorithm>
#include <cwchar>

#include "platform/win32/desktop.h"

namespace {

struct Tracked {
    UINT flags = 0;
    int x = 0, y = 0;
    HWND window = nullptr;  // the menu's window, once created
    WNDPROC next = nullptr;
};

Tracked* g_tracked = nullptr;

LRESULT CALLBACK PlacedAsAsked(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Tracked* t = g_tracked;
    if (!t || hwnd != t->window) return DefWindowProcW(hwnd, msg, wParam, lParam);
    WNDPROC next = t->next;
    if (msg == WM_WINDOWPOSCHANGING) {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (!(pos->flags & SWP_NOMOVE) && !(pos->flags & SWP_NOSIZE)) {
            int x = t->x - (t->flags & TPM_RIGHTALIGN ? pos->cx : t->flags & TPM_CENTERALIGN ? pos->cx / 2 : 0);
            int y = t->y - (t->flags & TPM_BOTTOMALIGN ? pos->cy : t->flags & TPM_VCENTERALIGN ? pos->cy / 2 : 0);
            pos->x = std::max(0, std::min(x, GetSystemMetrics(SM_CXSCREEN) - pos->cx));
            pos->y = std::max(0, std::min(y, GetSystemMetrics(SM_CYSCREEN) - pos->cy));
        }
    } else if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
        t->window = nullptr;
    }
    return CallWindowProcW(next, hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    wchar_t name[8];
    if (code == HCBT_CREATEWND && g_tracked && !g_tracked->window && GetClassNameW(hwnd, name, 8) &&
        wcscmp(name, L"#32768") == 0) {
        g_tracked->window = hwnd;
        g_tracked->next =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PlacedAsAsked)));
        if (!g_tracked->next) g_tracked->window = nullptr;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

namespace desktop {

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect) {
    // A menu tracked while another is (which the desktop refuses) is left to the desktop.
    if (g_tracked) return ::TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    Tracked tracked;
    tracked.flags = uFlags;
    tracked.x = x;
    tracked.y = y;
    HHOOK hook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    g_tracked = &tracked;
    BOOL result = ::TrackPopupMenu(hMenu, uFlags, x, y, nReserved, hWnd, prcRect);
    DWORD error = GetLastError();
    if (tracked.window) SetWindowLongPtrW(tracked.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(tracked.next));
    g_tracked = nullptr;
    if (hook) UnhookWindowsHookEx(hook);
    SetLastError(error);
    return result;
}

}  // namespace desktop
