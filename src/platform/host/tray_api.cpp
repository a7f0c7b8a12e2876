// Icons in the tray (Shell_NotifyIcon) and the cursor.
#include <algorithm>
#include <iterator>

#include "platform/host/shell_impl.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::ShellImpl;

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
    auto& s = ShellImpl();
    const host::Shell& shell = s.dev.shell();
    tracing::ShellNotifyIconCall c(dwMessage, lpData);
    if (lpData && c.on()) {
        auto resource = shell.IconResourceId(host::As<HICON>(lpData->hIcon.value));
        c.Fields({lpData->cbSize, lpData->hWnd.value, lpData->uID, lpData->uFlags, lpData->uCallbackMessage,
                  lpData->hIcon.value, resource ? std::optional<std::int64_t>(*resource) : std::nullopt, Tip(*lpData)});
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
    tracing::GetCursorPosCall c(lpPoint);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    *lpPoint = ShellImpl().cursor;
    c.Position(lpPoint->x, lpPoint->y);
    return c.Result(TRUE);
}
