// Window classes and windows, messages, timers, message boxes and dialogs, and Sleep, recorded
// as the host records them.
#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "platform/win32/desktop.h"

using tracing::ApiCall;
using tracing::TraceValue;
using win32trace::On;

namespace {

// Timer periods by window and id, so that a KillTimer says which period it ended.
std::map<std::pair<HWND, UINT_PTR>, UINT> g_timers;

// A class or resource given by number is recorded as that number, as the host does.
void ArgName(ApiCall& c, const char* name, LPCWSTR s) {
    if (IS_INTRESOURCE(s))
        c.Arg(name, static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(s)));
    else
        c.ArgW(name, s);
}

}  // namespace

ATOM WINAPI TracedRegisterClass(const WNDCLASSW* lpWndClass) {
    if (!On()) return RegisterClassW(lpWndClass);
    ApiCall c("RegisterClass");
    c.ArgW("lpszClassName", lpWndClass ? lpWndClass->lpszClassName : nullptr);
    if (DWORD e; c.Injected(&e)) return c.Result<ATOM>(0);
    return c.Result(RegisterClassW(lpWndClass));
}

BOOL WINAPI TracedUnregisterClass(LPCWSTR lpClassName, HINSTANCE hInstance) {
    if (!On()) return UnregisterClassW(lpClassName, hInstance);
    ApiCall c("UnregisterClass");
    ArgName(c, "lpClassName", lpClassName);
    return c.Result(UnregisterClassW(lpClassName, hInstance));
}

HWND WINAPI TracedCreateWindowEx(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                                 int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                 LPVOID lpParam) {
    if (!On())
        return CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent, hMenu,
                               hInstance, lpParam);
    ApiCall c("CreateWindowEx");
    c.ArgHex("dwExStyle", dwExStyle);
    ArgName(c, "lpClassName", lpClassName);
    c.ArgW("lpWindowName", lpWindowName).ArgHex("dwStyle", dwStyle);
    c.Arg("x", X).Arg("y", Y).Arg("nWidth", nWidth).Arg("nHeight", nHeight).ArgPtr("hWndParent", hWndParent);
    if (DWORD e; c.Injected(&e)) return c.Result<HWND>(nullptr);
    return c.Result(CreateWindowExW(dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight, hWndParent,
                                    hMenu, hInstance, lpParam));
}

BOOL WINAPI TracedDestroyWindow(HWND hWnd) {
    if (!On()) return DestroyWindow(hWnd);
    ApiCall c("DestroyWindow");
    c.ArgPtr("hWnd", hWnd);
    return c.Result(DestroyWindow(hWnd));
}

BOOL WINAPI TracedShowWindow(HWND hWnd, int nCmdShow) {
    if (!On()) return ShowWindow(hWnd, nCmdShow);
    ApiCall c("ShowWindow");
    c.ArgPtr("hWnd", hWnd).Arg("nCmdShow", nCmdShow);
    return c.Result(ShowWindow(hWnd, nCmdShow));
}

BOOL WINAPI TracedSetForegroundWindow(HWND hWnd) {
    if (!On()) return SetForegroundWindow(hWnd);
    ApiCall c("SetForegroundWindow");
    c.ArgPtr("hWnd", hWnd);
    return c.Result(SetForegroundWindow(hWnd));
}

HWND WINAPI TracedSetActiveWindow(HWND hWnd) {
    if (!On()) return SetActiveWindow(hWnd);
    ApiCall c("SetActiveWindow");
    c.ArgPtr("hWnd", hWnd);
    return c.Result(SetActiveWindow(hWnd));
}

BOOL WINAPI TracedSetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    if (!On()) return SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags);
    ApiCall c("SetWindowPos");
    c.ArgPtr("hWnd", hWnd).Arg("X", X).Arg("Y", Y).Arg("cx", cx).Arg("cy", cy).ArgHex("uFlags", uFlags);
    return c.Result(SetWindowPos(hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags));
}

LRESULT WINAPI TracedSendMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!On()) return SendMessageW(hWnd, Msg, wParam, lParam);
    ApiCall c("SendMessage");
    c.ArgPtr("hWnd", hWnd).ArgHex("Msg", Msg).Arg("wParam", static_cast<std::int64_t>(wParam)).Arg("lParam", lParam);
    if (DWORD e; c.Injected(&e)) return c.Result<LRESULT>(0);
    return c.Result(SendMessageW(hWnd, Msg, wParam, lParam));
}

BOOL WINAPI TracedPostMessage(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!On()) return PostMessageW(hWnd, Msg, wParam, lParam);
    ApiCall c("PostMessage");
    c.ArgPtr("hWnd", hWnd).ArgHex("Msg", Msg).Arg("wParam", static_cast<std::int64_t>(wParam)).Arg("lParam", lParam);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(PostMessageW(hWnd, Msg, wParam, lParam));
}

void WINAPI TracedPostQuitMessage(int nExitCode) {
    if (On()) ApiCall("PostQuitMessage").Arg("nExitCode", nExitCode);
    PostQuitMessage(nExitCode);
}

UINT_PTR WINAPI TracedSetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (!On()) return SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    ApiCall c("SetTimer");
    c.ArgPtr("hWnd", hWnd).Arg("nIDEvent", static_cast<std::int64_t>(nIDEvent)).Arg("uElapse", uElapse);
    c.ArgMem("lpTimerFunc", reinterpret_cast<const void*>(lpTimerFunc));
    if (DWORD e; c.Injected(&e)) return c.Result<UINT_PTR>(0);
    UINT_PTR id = SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    if (id && c.on()) g_timers[{hWnd, hWnd ? nIDEvent : id}] = std::max<UINT>(uElapse, USER_TIMER_MINIMUM);
    return c.Result(id);
}

BOOL WINAPI TracedKillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    if (!On()) return KillTimer(hWnd, uIDEvent);
    ApiCall c("KillTimer");
    c.ArgPtr("hWnd", hWnd).Arg("uIDEvent", static_cast<std::int64_t>(uIDEvent));
    auto it = g_timers.find({hWnd, uIDEvent});
    c.Out("ms", it == g_timers.end() ? TraceValue::Null() : TraceValue::Int(it->second));
    BOOL ok = KillTimer(hWnd, uIDEvent);
    if (ok && it != g_timers.end()) g_timers.erase(it);
    return c.Result(ok);
}

void WINAPI TracedSleep(DWORD dwMilliseconds) {
    if (On()) ApiCall("Sleep").Arg("dwMilliseconds", dwMilliseconds);
    Sleep(dwMilliseconds);
}

int WINAPI TracedMessageBox(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (!On()) return MessageBoxW(hWnd, lpText, lpCaption, uType);
    ApiCall c("MessageBox");
    c.ArgPtr("hWnd", hWnd).ArgW("lpText", lpText).ArgW("lpCaption", lpCaption).ArgHex("uType", uType);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    return c.Result(MessageBoxW(hWnd, lpText, lpCaption, uType));
}

INT_PTR WINAPI TracedDialogBoxParam(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                                    LPARAM dwInitParam) {
    if (!On()) return desktop::RunDialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    ApiCall c("DialogBoxParam");
    std::string name = !lpTemplateName ? ""
                       : IS_INTRESOURCE(lpTemplateName)
                           ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(lpTemplateName))
                           : tracing::Wide(lpTemplateName).text;
    c.Arg("lpTemplateName", TraceValue::Text(name)).ArgPtr("hWndParent", hWndParent);
    if (DWORD e; c.Injected(&e)) return c.Result<INT_PTR>(-1);
    return c.Result(desktop::RunDialog(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam));
}

BOOL WINAPI TracedEndDialog(HWND hDlg, INT_PTR nResult) {
    if (!On()) return EndDialog(hDlg, nResult);
    ApiCall c("EndDialog");
    c.ArgPtr("hDlg", hDlg).Arg("nResult", static_cast<std::int64_t>(nResult));
    return c.Result(EndDialog(hDlg, nResult));
}
