// One tray notification per click: the icon's window is subclassed, and its callback message is
// let through only for a press. The desktop sends the notification from its own process, so it
// can arrive while this thread waits inside a call of its own (a tick's Shell_NotifyIcon); there
// it is posted instead, and the loop serves it once the handler that made the call is done, as a
// tap waits in the queue on the handheld.
#include <map>
#include <set>

#include "platform/win32/desktop.h"

namespace {

struct Subclass {
    WNDPROC next = nullptr;
    std::set<UINT> messages;  // the callback messages of the window's icons
};

// By window; the system's windows all live on one thread.
std::map<HWND, Subclass> g_windows;

LRESULT CALLBACK OncePerClick(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto it = g_windows.find(hwnd);
    if (it == g_windows.end()) return DefWindowProcW(hwnd, msg, wParam, lParam);
    WNDPROC next = it->second.next;
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(next));
        g_windows.erase(it);
    } else if (it->second.messages.count(msg)) {
        switch (LOWORD(lParam)) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
            case WM_RBUTTONDOWN:
            case WM_RBUTTONDBLCLK:
                if (InSendMessageEx(nullptr) != ISMEX_NOSEND) {
                    PostMessageW(hwnd, msg, wParam, WM_LBUTTONDOWN);
                    return 0;
                }
                lParam = WM_LBUTTONDOWN;
                break;
            default:
                return 0;
        }
    }
    return CallWindowProcW(next, hwnd, msg, wParam, lParam);
}

}  // namespace

namespace desktop {

void NotifyOncePerClick(HWND window, UINT message) {
    DWORD pid = 0;
    if (!message || !GetWindowThreadProcessId(window, &pid) || pid != GetCurrentProcessId()) return;
    auto [it, added] = g_windows.try_emplace(window);
    it->second.messages.insert(message);
    if (!added) return;
    it->second.next =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OncePerClick)));
    if (!it->second.next) g_windows.erase(it);
}

}  // namespace desktop
