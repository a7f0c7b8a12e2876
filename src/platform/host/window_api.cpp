// Window classes and windows: creation, destruction, showing, activation and geometry.
#include <algorithm>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"
#include "platform/host/window_manager_impl.h"

using host::WindowManager;
using host::WM;

HWND host::CreateWindowImpl(DWORD ex_style, const std::u16string& cls, WNDPROC proc, LPCWSTR title, DWORD style,
                            RECT rect, HWND owner, LPVOID param, bool dialog, int dialog_id, DLGPROC dlgproc) {
    auto& d = WM();
    HWND h = d.NewHandle();
    if (!h) {
        SetLastError(ERROR_CANTWRITE);
        return nullptr;
    }
    WindowManager::Impl::Window w;
    w.info.handle = h;
    w.info.class_name = cls;
    w.info.title = title ? title : u"";
    w.info.style = style & ~static_cast<DWORD>(WS_VISIBLE);
    w.info.ex_style = ex_style;
    w.info.owner = owner;
    w.info.rect = rect;
    w.info.dialog = dialog;
    w.info.dialog_id = dialog_id;
    w.proc = proc;
    w.dlgproc = dlgproc;
    d.windows.emplace(WindowManager::Impl::Id(h), std::move(w));

    if (!dialog) {
        CREATESTRUCT cs{param,
                        ::GetModuleHandle(nullptr),
                        nullptr,
                        owner,
                        static_cast<int>(rect.bottom - rect.top),
                        static_cast<int>(rect.right - rect.left),
                        static_cast<int>(rect.top),
                        static_cast<int>(rect.left),
                        static_cast<LONG>(style),
                        title,
                        cls.c_str(),
                        ex_style};
        if (!d.Deliver(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
            ::DestroyWindow(h);
            return nullptr;
        }
        if (d.Deliver(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            ::DestroyWindow(h);
            return nullptr;
        }
    }
    if ((style & WS_VISIBLE) && d.Get(h)) ::ShowWindow(h, SW_SHOW);
    if (!d.Get(h)) return nullptr;
    // Top-level windows can be addressed by other programs.
    if (!owner && !dialog)
        if (host::Endpoint* endpoint = d.dev.endpoint()) endpoint->Publish(h);
    return h;
}

WORD RegisterClass(const WNDCLASS* wc) {
    tracing::RegisterClassCall c(wc ? wc->lpszClassName : nullptr);
    if (DWORD e; c.Injected(&e)) return c.Result<WORD>(0);
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result<WORD>(0);
    }
    auto& d = WM();
    auto key = host::Lower(wc->lpszClassName);
    if (d.classes.count(key)) {
        SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
        return c.Result<WORD>(0);
    }
    d.class_names[key] = wc->lpszClassName;
    WNDCLASS copy = *wc;
    copy.lpszClassName = d.class_names[key].c_str();
    copy.lpszMenuName = nullptr;
    d.classes[key] = copy;
    return c.Result<WORD>(static_cast<WORD>(0xC000 + d.classes.size()));
}

BOOL UnregisterClass(LPCWSTR name, HINSTANCE) {
    tracing::UnregisterClassCall c(name);
    auto& d = WM();
    if (!name || !d.classes.erase(host::Lower(name))) {
        SetLastError(1411);  // ERROR_CLASS_DOES_NOT_EXIST
        return c.Result(FALSE);
    }
    return c.Result(TRUE);
}

BOOL GetClassInfo(HINSTANCE, LPCWSTR name, WNDCLASS* out) {
    auto& d = WM();
    auto it = name ? d.classes.find(host::Lower(name)) : d.classes.end();
    if (it == d.classes.end()) {
        SetLastError(1411);
        return FALSE;
    }
    if (out) *out = it->second;
    return TRUE;
}

HWND CreateWindowEx(DWORD ex_style, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int cx, int cy, HWND parent,
                    HMENU, HINSTANCE, LPVOID param) {
    tracing::CreateWindowExCall c(ex_style, cls, title, style, x, y, cx, cy, parent);
    if (DWORD e; c.Injected(&e)) return c.Result<HWND>(nullptr);
    auto& d = WM();
    auto it = cls ? d.classes.find(host::Lower(cls)) : d.classes.end();
    if (it == d.classes.end()) {
        SetLastError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
        return c.Result<HWND>(nullptr);
    }
    if (parent && !d.Get(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<HWND>(nullptr);
    }
    RECT work = d.WorkArea();
    RECT r{x == CW_USEDEFAULT ? work.left : x, y == CW_USEDEFAULT ? work.top : y, 0, 0};
    r.right = r.left + (cx == CW_USEDEFAULT ? work.right - work.left : cx);
    r.bottom = r.top + (cy == CW_USEDEFAULT ? work.bottom - work.top : cy);
    HWND h = host::CreateWindowImpl(ex_style, it->second.lpszClassName, it->second.lpfnWndProc, title, style, r, parent,
                                    param, false, 0, nullptr);
    return c.Result(h);
}

BOOL DestroyWindow(HWND h) {
    tracing::WindowCall c(tracing::Call::kDestroyWindow, h);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    w->destroying = true;
    // Owned windows go first, as on the platform.
    std::vector<HWND> owned;
    for (const auto& [id, other] : d.windows)
        if (other.info.owner == h) owned.push_back(other.info.handle);
    for (HWND o : owned)
        ::DestroyWindow(o);
    d.CloseModalsOwnedBy(h);
    w = d.Get(h);
    w->info.visible = false;
    if (d.active == h) d.Activate(nullptr);
    d.Deliver(h, WM_DESTROY, 0, 0);
    d.Forget(h);
    if (host::Endpoint* endpoint = d.dev.endpoint()) endpoint->Withdraw(h);
    d.Deliver(h, WM_NCDESTROY, 0, 0);
    d.windows.erase(WindowManager::Impl::Id(h));
    return c.Result(TRUE);
}

BOOL IsWindow(HWND h) { return WM().Get(h) ? TRUE : FALSE; }

BOOL ShowWindow(HWND h, int cmd) {
    tracing::ShowWindowCall c(h, cmd);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    BOOL was_visible = w->info.visible ? TRUE : FALSE;
    if (cmd == SW_HIDE) {
        w->info.visible = false;
        if (d.active == h) d.Activate(nullptr);
    } else {
        w->info.visible = true;
        if (cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE) d.Activate(h);
    }
    return c.Result(was_visible);
}

BOOL IsWindowVisible(HWND h) {
    auto* w = WM().Get(h);
    return w && w->info.visible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND h) {
    tracing::WindowCall c(tracing::Call::kSetForegroundWindow, h);
    auto& d = WM();
    if (!d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    d.Activate(h);
    return c.Result(TRUE);
}

HWND SetActiveWindow(HWND h) {
    tracing::WindowCall c(tracing::Call::kSetActiveWindow, h);
    auto& d = WM();
    if (h && !d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<HWND>(nullptr);
    }
    HWND previous = d.active;
    d.Activate(h);
    return c.Result(previous);
}

HWND GetActiveWindow() { return WM().active; }

HWND GetWindow(HWND h, UINT cmd) {
    auto* w = WM().Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return cmd == GW_OWNER ? w->info.owner : nullptr;
}

HWND GetParent(HWND h) {
    auto* w = WM().Get(h);
    return w ? w->info.owner : nullptr;
}

LONG GetWindowLong(HWND h, int index) {
    auto* w = WM().Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE) return static_cast<LONG>(w->info.style | (w->info.visible ? WS_VISIBLE : 0));
    if (index == GWL_EXSTYLE) return static_cast<LONG>(w->info.ex_style);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

BOOL GetWindowRect(HWND h, LPRECT r) {
    auto* w = WM().Get(h);
    if (!w || !r) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *r = w->info.rect;
    return TRUE;
}

BOOL GetClientRect(HWND h, LPRECT r) {
    auto* w = WM().Get(h);
    if (!w || !r) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *r = RECT{0, 0, w->info.rect.right - w->info.rect.left, w->info.rect.bottom - w->info.rect.top};
    return TRUE;
}

BOOL MoveWindow(HWND h, int x, int y, int cx, int cy, BOOL) {
    return ::SetWindowPos(h, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL SetWindowPos(HWND h, HWND, int x, int y, int cx, int cy, UINT flags) {
    tracing::SetWindowPosCall c(h, x, y, cx, cy, flags);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    RECT& r = w->info.rect;
    LONG width = r.right - r.left, height = r.bottom - r.top;
    if (!(flags & SWP_NOSIZE)) width = cx, height = cy;
    if (!(flags & SWP_NOMOVE)) r.left = x, r.top = y;
    r.right = r.left + width;
    r.bottom = r.top + height;
    return c.Result(TRUE);
}

int GetWindowText(HWND h, LPWSTR buf, int max) {
    auto* w = WM().Get(h);
    if (!w || !buf || max <= 0) return 0;
    int n = std::min<int>(static_cast<int>(w->info.title.size()), max - 1);
    std::copy_n(w->info.title.begin(), n, buf);
    buf[n] = 0;
    return n;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
            return host::kScreenWidth;
        case SM_CYSCREEN:
            return host::kScreenHeight;
        default:
            return 0;
    }
}

BOOL SystemParametersInfo(UINT action, UINT, LPVOID param, UINT) {
    if (action != SPI_GETWORKAREA || !param) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<RECT*>(param) = WM().WorkArea();
    return TRUE;
}

LRESULT DefWindowProc(HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) ::DestroyWindow(h);
    if (msg == WM_NCCREATE) return TRUE;
    return 0;
}
