// Icons in the tray (Shell_NotifyIcon) and the cursor.
#include <algorithm>
#include <iterator>

#include "platform/host/shell_impl.h"
#include "platform/host/trace.h"

using host::ApiCall;
using host::ShellImpl;
using host::TraceValue;
namespace json = host::json;

namespace {

std::u16string Tip(const NOTIFYICONDATA& d) {
    const WCHAR* end = std::find(std::begin(d.szTip), std::end(d.szTip), u'\0');
    return std::u16string(std::begin(d.szTip), end);
}

void Apply(host::TrayIcon& t, const NOTIFYICONDATA& d, const host::Shell& shell) {
    if (d.uFlags & NIF_MESSAGE) t.callback_message = d.uCallbackMessage;
    if (d.uFlags & NIF_ICON) {
        t.icon = host::As<HICON>(d.hIcon.value);
        t.icon_resource = shell.IconResourceId(t.icon);
    }
    if (d.uFlags & NIF_TIP) t.tip = Tip(d);
    t.flags |= d.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData) {
    ApiCall c("Shell_NotifyIcon");
    c.Arg("dwMessage", dwMessage);
    auto& s = ShellImpl();
    const host::Shell& shell = s.dev.shell();
    if (!lpData) {
        c.ArgPtr("lpData", nullptr);
    } else if (c.on()) {
        c.Arg("cbSize", lpData->cbSize).Arg("hWnd", lpData->hWnd.value).Arg("uID", lpData->uID);
        c.ArgHex("uFlags", lpData->uFlags).ArgHex("uCallbackMessage", lpData->uCallbackMessage);
        c.Arg("hIcon", lpData->hIcon.value);
        auto resource = shell.IconResourceId(host::As<HICON>(lpData->hIcon.value));
        c.Out("icon", resource ? TraceValue::Int(*resource) : TraceValue::Null());
        if (lpData->uFlags & NIF_TIP) c.Arg("szTip", TraceValue::Text(json::Utf8(Tip(*lpData))));
    }
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    HWND window = host::As<HWND>(lpData->hWnd.value);
    auto it = s.FindTray(window, lpData->uID);
    switch (dwMessage) {
        case NIM_ADD: {
            if (it != s.tray.end()) return c.Result(FALSE);
            if (!::IsWindow(window)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return c.Result(FALSE);
            }
            host::TrayIcon t;
            t.window = window;
            t.id = lpData->uID;
            Apply(t, *lpData, shell);
            s.tray.push_back(std::move(t));
            return c.Result(TRUE);
        }
        case NIM_MODIFY:
            if (it == s.tray.end()) return c.Result(FALSE);
            Apply(*it, *lpData, shell);
            return c.Result(TRUE);
        case NIM_DELETE:
            if (it == s.tray.end()) return c.Result(FALSE);
            s.tray.erase(it);
            return c.Result(TRUE);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return c.Result(FALSE);
    }
}

BOOL GetCursorPos(LPPOINT lpPoint) {
    ApiCall c("GetCursorPos");
    c.ArgMem("lpPoint", lpPoint);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    *lpPoint = ShellImpl().cursor;
    c.Out("x", lpPoint->x).Out("y", lpPoint->y);
    return c.Result(TRUE);
}
