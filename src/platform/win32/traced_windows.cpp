// Window classes and windows, messages, timers, message boxes and dialogs, and Sleep, recorded
// as the host records them.
#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "platform/win32/desktop.h"

using win32trace::On;

namespace {

// Timer periods by window and id, so that a KillTimer says which period it ended.
std::map<std::pair<HWND, UINT_PTR>, UINT> g_timers;

}  // namespace

ATOM WINAPI TracedRegisterClass(const WNDCLASSW* lpWndClass) {
    if (!On()) return RegisterClassW(lpWndClass);
    tracing::RegisterClassCall c(lpWndClass ? lpWndClass->lpszClassName : nullptr);
    if (DWORD e; c.Injected(&e)) return c.Result<ATOM>(0);
    return c.Result(RegisterClassW(lpWndClass));
}

BOOL WINAPI TracedUnregisterClass(LPCWSTR lpClassName, HINSTANCE hInstance) {
    if (!On()) return UnregisterClassW(lpClassName, hInstance);
    tracing::UnregisterClassCall c(lpClassName);
    return c.Result(UnregisterClassW(lpClassName, hInstance));
}

HWND WINAPI TracedCreateWindowEx(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                                 int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                 LPVOID lpParam) {
    if (!On())
        return CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu,
                               hInstance, lpParam);
    tracing::CreateWindowExCall c(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent);
    if (DWORD e; c.Injected(&e)) return c.Result<HWND>(nullptr);
    return c.Result(CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent,
                                    hMenu, hInstance, lpParam));
}

BOOL WINAPI TracedDestroyWindow(HWND hWnd) {
    if (!On()) return DestroyWindow(hWnd);
    tracing::WindowCall c(tracing::Call::kDestroyWindow, hWnd);
    return c.Result(DestroyWindow(hWnd));
}

BOOL WINAPI TracedShowWindow(HWND hWnd, int nCmdShow) {
    if (!On()) return ShowWindow(hWnd, nCmdShow);
    tracing::ShowWindowCall c(hWnd, nCmdShow);
    return c.Result(ShowWindow(hWnd, nCmdShow));
}

BOOL WINAPI TracedSetForegroundWindow(HWND hWnd) {
    if (!On()) return SetForegroundWindow(hWnd);
    tracing::WindowCall c(tracing::Call::kSetForegroundWindow, hWnd);
    return c.Result(SetForegroundWindow(hWnd));
}

HWND WINAPI TracedSetActiveWindow(HWND hWnd) {
    if (!On()) return SetActiveWindow(hWnd);
    tracing::WindowCall c(tracing::Call::kSetActiveWindow, hWnd);
    return c.Result(SetActiveWindow(hWnd));
}

BOOL WINAPI TracedSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    if (!On()) return SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    tracing::SetWindowPosCall c(hWnd, X, Y, cx, cy, uFlags);
    return c.Result(SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags));
}

LRESULT WINAPI TracedSendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!On()) return SendMessageW(hWnd, Msg, wParam, lParam);
    tracing::MessageCall c(tracing::Call::kSendMessage, hWnd, Msg, wParam, lParam);
    if (DWORD e; c.Injected(&e)) return c.Result<LRESULT>(0);
    return c.Result(SendMessageW(hWnd, Msg, wParam, lParam));
}

BOOL WINAPI TracedPostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!On()) return PostMessageW(hWnd, Msg, wParam, lParam);
    tracing::MessageCall c(tracing::Call::kPostMessage, hWnd, Msg, wParam, lParam);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(PostMessageW(hWnd, Msg, wParam, lParam));
}

void WINAPI TracedPostQuitMessage(int nExitCode) {
    if (On()) tracing::PostQuitMessageCall{nExitCode};
    PostQuitMessage(nExitCode);
}

UINT_PTR WINAPI TracedSetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (!On()) return SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    tracing::SetTimerCall c(hWnd, nIDEvent, uElapse, reinterpret_cast<const void*>(lpTimerFunc));
    if (DWORD e; c.Injected(&e)) return c.Result<UINT_PTR>(0);
    UINT_PTR id = SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    if (id && c.on()) g_timers[{hWnd, hWnd ? nIDEvent : id}] = std::max<UINT>(uElapse, USER_TIMER_MINIMUM);
    return c.Result(id);
}

BOOL WINAPI TracedKillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    if (!On()) return KillTimer(hWnd, uIDEvent);
    auto it = g_timers.find({hWnd, uIDEvent});
    tracing::KillTimerCall c(hWnd, uIDEvent, it == g_timers.end() ? std::nullopt : std::optional<std::int64_t>(it->second));
    BOOL ok = KillTimer(hWnd, uIDEvent);
    if (ok && it != g_timers.end()) g_timers.erase(it);
    return c.Result(ok);
}

void WINAPI TracedSleep(DWORD dwMilliseconds) {
    if (On()) tracing::SleepCall{dwMilliseconds};
    Sleep(dwMilliseconds);
}

int WINAPI TracedMessageBox(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (!On()) return MessageBoxW(hWnd, lpText, lpCaption, uType);
    tracing::MessageBoxCall c(hWnd, lpText, lpCaption, uType);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    return c.Result(MessageBoxW(hWnd, lpText, lpCaption, uType));
}

INT_PTR WINAPI TracedDialogBoxParam(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                                    LPARAM dwInitParam) {
    if (!On()) return desktop::RunDialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    tracing::DialogBoxParamCall c(lpTemplateName, hWndParent);
    if (DWORD e; c.Injected(&e)) return c.Result<INT_PTR>(-1);
    return c.Result(desktop::RunDialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam));
}

BOOL WINAPI TracedEndDialog(HWND hDlg, INT_PTR nResult) {
    if (!On()) return EndDialog(hDlg, nResult);
    tracing::EndDialogCall c(hDlg, nResult);
    return c.Result(EndDialog(hDlg, nResult));
}
