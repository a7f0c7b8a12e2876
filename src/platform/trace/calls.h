// What each traced call records, written once for both platforms: its name and whether it takes
// injected faults (the list below), the arguments it records when it begins (its describer's
// constructor) and the facts it reports when it ran (the describer's other members). The host's
// seam and the Win32 recording layer both record through these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/trace/trace.h"

namespace tracing {

// Every traced call, in alphabetical order, and whether a fault can be injected into it.
// clang-format off
#define PELORN_TRACED_CALLS(X) \
    X(AppendMenu, true) \
    X(CheckMenuItem, true) \
    X(CloseHandle, true) \
    X(CreateEvent, true) \
    X(CreateFile, true) \
    X(CreatePopupMenu, true) \
    X(CreateWindowEx, true) \
    X(DestroyMenu, true) \
    X(DestroyWindow, false) \
    X(DeviceIoControl, true) \
    X(DialogBoxParam, true) \
    X(EndDialog, false) \
    X(EscapeCommFunction, true) \
    X(GetCommModemStatus, true) \
    X(GetCommState, true) \
    X(GetCommTimeouts, true) \
    X(GetCursorPos, true) \
    X(GetSystemPowerStatusEx, true) \
    X(GpioRead, false) \
    X(GpioWrite, false) \
    X(KernelIoControl, true) \
    X(KillTimer, false) \
    X(LoadImage, true) \
    X(LoadString, true) \
    X(MessageBox, true) \
    X(PostMessage, true) \
    X(PostQuitMessage, false) \
    X(ReadFile, true) \
    X(RegCloseKey, true) \
    X(RegCreateKeyEx, true) \
    X(RegDeleteKey, true) \
    X(RegDeleteValue, true) \
    X(RegEnumKeyEx, true) \
    X(RegEnumValue, true) \
    X(RegOpenKeyEx, true) \
    X(RegQueryValueEx, true) \
    X(RegSetValueEx, true) \
    X(RegisterClass, true) \
    X(SendMessage, true) \
    X(SetActiveWindow, false) \
    X(SetCommMask, true) \
    X(SetCommState, true) \
    X(SetCommTimeouts, true) \
    X(SetEvent, true) \
    X(SetForegroundWindow, false) \
    X(SetTimer, true) \
    X(SetWindowPos, false) \
    X(Shell_NotifyIcon, true) \
    X(ShowWindow, false) \
    X(Sleep, false) \
    X(TrackPopupMenu, true) \
    X(UnregisterClass, false) \
    X(WaitCommEvent, true) \
    X(WriteFile, true)
// clang-format on

enum class Call : std::uint8_t {
#define PELORN_CALL_ENUM(name, fails) k##name,
    PELORN_TRACED_CALLS(PELORN_CALL_ENUM)
#undef PELORN_CALL_ENUM
};

struct CallInfo {
    const char* name;
    bool fails;
};
const CallInfo& Info(Call call);
// Each call's row, in the list's order.
const std::vector<CallInfo>& AllCalls();

// A call begun under its row's name.
class TracedCall : public ApiCall {
public:
    explicit TracedCall(Call call) : ApiCall(Info(call).name) {}
};

// A class or resource given by number is recorded as that number, one given by name as its text.
void ArgName(ApiCall& c, const char* name, const WCHAR* s);
// An in-out count as passed: its value, or null without one.
void ArgCount(ApiCall& c, const char* name, const DWORD* count);

// ----- Files, devices, serial ports and events -------------------------------------------------

struct CreateFileCall : TracedCall {
    CreateFileCall(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, const void* lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, const void* hTemplateFile)
        : TracedCall(Call::kCreateFile) {
        ArgW("lpFileName", lpFileName).ArgHex("dwDesiredAccess", dwDesiredAccess).ArgHex("dwShareMode", dwShareMode);
        ArgPtr("lpSecurityAttributes", lpSecurityAttributes).Arg("dwCreationDisposition", dwCreationDisposition);
        ArgHex("dwFlagsAndAttributes", dwFlagsAndAttributes).ArgPtr("hTemplateFile", hTemplateFile);
        NamesResult(lpFileName);
    }
};
struct CloseHandleCall : TracedCall {
    explicit CloseHandleCall(const void* hObject) : TracedCall(Call::kCloseHandle) {
        ArgPtr("hObject", hObject).ForgetName(hObject);
    }
};
struct ReadFileCall : TracedCall {
    ReadFileCall(const void* hFile, DWORD nNumberOfBytesToRead, const void* lpOverlapped)
        : TracedCall(Call::kReadFile) {
        ArgPtr("hFile", hFile).Arg("nNumberOfBytesToRead", nNumberOfBytesToRead).ArgPtr("lpOverlapped", lpOverlapped);
    }
    void Read(const void* data, DWORD n) { ArgBytes("data", data, n); }
};
struct WriteFileCall : TracedCall {
    WriteFileCall(const void* hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, const void* lpOverlapped)
        : TracedCall(Call::kWriteFile) {
        ArgPtr("hFile", hFile).ArgBytes("lpBuffer", lpBuffer, nNumberOfBytesToWrite);
        Arg("nNumberOfBytesToWrite", nNumberOfBytesToWrite).ArgPtr("lpOverlapped", lpOverlapped);
    }
};
struct DeviceIoControlCall : TracedCall {
    DeviceIoControlCall(const void* hDevice, DWORD dwIoControlCode, const void* lpInBuffer, DWORD nInBufferSize,
                        const void* lpOutBuffer, DWORD nOutBufferSize, const void* lpBytesReturned,
                        const void* lpOverlapped)
        : TracedCall(Call::kDeviceIoControl) {
        ArgPtr("hDevice", hDevice).Arg("dwIoControlCode", dwIoControlCode);
        ArgBytes("lpInBuffer", lpInBuffer, lpInBuffer ? nInBufferSize : 0);
        Arg("nInBufferSize", nInBufferSize).ArgMem("lpOutBuffer", lpOutBuffer).Arg("nOutBufferSize", nOutBufferSize);
        ArgMem("lpBytesReturned", lpBytesReturned).ArgPtr("lpOverlapped", lpOverlapped);
    }
};
struct GetCommStateCall : TracedCall {
    explicit GetCommStateCall(const void* hFile) : TracedCall(Call::kGetCommState) { ArgPtr("hFile", hFile); }
    void State(const DCB& dcb);
};
struct SetCommStateCall : TracedCall {
    SetCommStateCall(const void* hFile, const DCB* dcb) : TracedCall(Call::kSetCommState) {
        ArgPtr("hFile", hFile);
        if (dcb && on()) DcbFields(*this, *dcb);
    }
};
struct GetCommTimeoutsCall : TracedCall {
    explicit GetCommTimeoutsCall(const void* hFile) : TracedCall(Call::kGetCommTimeouts) { ArgPtr("hFile", hFile); }
    void Timeouts(const COMMTIMEOUTS& timeouts);
};
struct SetCommTimeoutsCall : TracedCall {
    SetCommTimeoutsCall(const void* hFile, const COMMTIMEOUTS* timeouts) : TracedCall(Call::kSetCommTimeouts) {
        ArgPtr("hFile", hFile);
        if (timeouts && on()) TimeoutFields(*this, *timeouts);
    }
};
struct SetCommMaskCall : TracedCall {
    SetCommMaskCall(const void* hFile, DWORD dwEvtMask) : TracedCall(Call::kSetCommMask) {
        ArgPtr("hFile", hFile).ArgHex("dwEvtMask", dwEvtMask);
    }
};
struct WaitCommEventCall : TracedCall {
    WaitCommEventCall(const void* hFile, const void* lpOverlapped) : TracedCall(Call::kWaitCommEvent) {
        ArgPtr("hFile", hFile).ArgPtr("lpOverlapped", lpOverlapped);
    }
    void Event(DWORD mask) { ArgHex("EvtMask", mask); }
};
struct GetCommModemStatusCall : TracedCall {
    explicit GetCommModemStatusCall(const void* hFile) : TracedCall(Call::kGetCommModemStatus) {
        ArgPtr("hFile", hFile);
    }
    void Status(DWORD status) { ArgHex("ModemStat", status); }
};
struct EscapeCommFunctionCall : TracedCall {
    EscapeCommFunctionCall(const void* hFile, DWORD dwFunc) : TracedCall(Call::kEscapeCommFunction) {
        ArgPtr("hFile", hFile).Arg("dwFunc", dwFunc);
    }
};
struct CreateEventCall : TracedCall {
    CreateEventCall(const void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, const WCHAR* lpName)
        : TracedCall(Call::kCreateEvent) {
        ArgPtr("lpEventAttributes", lpEventAttributes).Arg("bManualReset", bManualReset);
        Arg("bInitialState", bInitialState).ArgW("lpName", lpName);
    }
    void Existed(bool existed) { Out("existed", TraceValue::Bool(existed)); }
};
struct SetEventCall : TracedCall {
    explicit SetEventCall(const void* hEvent) : TracedCall(Call::kSetEvent) { ArgPtr("hEvent", hEvent); }
    // The event's name, when it has one.
    void Signalled(std::string_view name_utf8) { Out("name", TraceValue::Text(std::string(name_utf8))); }
};

// ----- The handheld's own: GPIO, the HAL, power ------------------------------------------------

struct GpioReadCall : TracedCall {
    GpioReadCall() : TracedCall(Call::kGpioRead) {}
    void Read(std::uint64_t offset, ULONG value) { ArgHex("offset", offset).ArgHex("Value", value); }
};
struct GpioWriteCall : TracedCall {
    GpioWriteCall(std::uint64_t offset, ULONG value) : TracedCall(Call::kGpioWrite) {
        ArgHex("offset", offset).ArgHex("Value", value);
    }
};
struct KernelIoControlCall : TracedCall {
    KernelIoControlCall(DWORD dwIoControlCode, const void* lpInBuf, DWORD nInBufSize, const void* lpOutBuf,
                        DWORD nOutBufSize, const void* lpBytesReturned)
        : TracedCall(Call::kKernelIoControl) {
        Arg("dwIoControlCode", dwIoControlCode).ArgPtr("lpInBuf", lpInBuf).Arg("nInBufSize", nInBufSize);
        ArgMem("lpOutBuf", lpOutBuf).Arg("nOutBufSize", nOutBufSize).ArgMem("lpBytesReturned", lpBytesReturned);
    }
};
struct GetSystemPowerStatusExCall : TracedCall {
    GetSystemPowerStatusExCall(const void* pstatus, BOOL fUpdate) : TracedCall(Call::kGetSystemPowerStatusEx) {
        ArgMem("pstatus", pstatus).Arg("fUpdate", fUpdate);
    }
    void Status(int ac_line, int battery_flag, int battery_percent);
};

// ----- The registry ----------------------------------------------------------------------------

struct RegOpenKeyExCall : TracedCall {
    RegOpenKeyExCall(HKEY hKey, const WCHAR* lpSubKey, DWORD ulOptions, REGSAM samDesired)
        : TracedCall(Call::kRegOpenKeyEx) {
        ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("ulOptions", ulOptions).ArgHex("samDesired", samDesired);
    }
    void Opened(HKEY result, HKEY base, const WCHAR* subkey) {
        ArgKey("phkResult", result).NameKey(result, base, subkey);
    }
};
struct RegCreateKeyExCall : TracedCall {
    RegCreateKeyExCall(HKEY hKey, const WCHAR* lpSubKey, DWORD Reserved, const WCHAR* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes)
        : TracedCall(Call::kRegCreateKeyEx) {
        ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("Reserved", Reserved).ArgW("lpClass", lpClass);
        Arg("dwOptions", dwOptions)
            .ArgHex("samDesired", samDesired)
            .ArgPtr("lpSecurityAttributes", lpSecurityAttributes);
    }
    void Created(HKEY result, DWORD disposition, HKEY base, const WCHAR* subkey) {
        ArgKey("phkResult", result).Out("lpdwDisposition", disposition).NameKey(result, base, subkey);
    }
};
struct RegQueryValueExCall : TracedCall {
    // An in-out count is recorded as passed (`lpcbData`) and as returned (`*lpcbData`).
    RegQueryValueExCall(HKEY hKey, const WCHAR* lpValueName, const void* lpReserved, const DWORD* lpcbData)
        : TracedCall(Call::kRegQueryValueEx) {
        ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).ArgPtr("lpReserved", lpReserved);
        ArgCount(*this, "lpcbData", lpcbData);
    }
    void Data(const void* data, DWORD n) { ArgBytes("lpData", data, n); }
    // The value's type and size as the call reports them, also when it ran short of room.
    void TypeAndSize(LONG r, DWORD type, DWORD size);
};
struct RegSetValueExCall : TracedCall {
    RegSetValueExCall(HKEY hKey, const WCHAR* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                      DWORD cbData)
        : TracedCall(Call::kRegSetValueEx) {
        ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).Arg("Reserved", Reserved).Arg("dwType", dwType);
        ArgBytes("lpData", lpData, cbData).Arg("cbData", cbData);
    }
};
struct RegDeleteValueCall : TracedCall {
    RegDeleteValueCall(HKEY hKey, const WCHAR* lpValueName) : TracedCall(Call::kRegDeleteValue) {
        ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName);
    }
};
struct RegDeleteKeyCall : TracedCall {
    RegDeleteKeyCall(HKEY hKey, const WCHAR* lpSubKey) : TracedCall(Call::kRegDeleteKey) {
        ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey);
    }
};
struct RegEnumKeyExCall : TracedCall {
    RegEnumKeyExCall(HKEY hKey, DWORD dwIndex, const DWORD* lpcchName, const void* lpReserved, const void* lpClass,
                     const DWORD* lpcchClass)
        : TracedCall(Call::kRegEnumKeyEx) {
        ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
        ArgCount(*this, "lpcchName", lpcchName);
        ArgPtr("lpReserved", lpReserved).ArgPtr("lpClass", lpClass);
        ArgCount(*this, "lpcchClass", lpcchClass);
    }
    void Name(const WCHAR* name, std::size_t length) {
        ArgW("lpName", name).Out("*lpcchName", TraceValue::Int(length));
    }
};
struct RegEnumValueCall : TracedCall {
    RegEnumValueCall(HKEY hKey, DWORD dwIndex, const DWORD* lpcchValueName, const void* lpReserved,
                     const DWORD* lpcbData)
        : TracedCall(Call::kRegEnumValue) {
        ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
        ArgCount(*this, "lpcchValueName", lpcchValueName);
        ArgPtr("lpReserved", lpReserved);
        ArgCount(*this, "lpcbData", lpcbData);
    }
    void Name(const WCHAR* name, std::size_t length) {
        ArgW("lpValueName", name).Out("*lpcchValueName", TraceValue::Int(length));
    }
    void Data(const void* data, DWORD n) { ArgBytes("lpData", data, n); }
    void TypeAndSize(LONG r, DWORD type, DWORD size);
};
struct RegCloseKeyCall : TracedCall {
    explicit RegCloseKeyCall(HKEY hKey) : TracedCall(Call::kRegCloseKey) { ArgKey("hKey", hKey).ForgetName(hKey); }
};

// ----- The tray, the cursor, menus and resources -----------------------------------------------

struct ShellNotifyIconCall : TracedCall {
    ShellNotifyIconCall(DWORD dwMessage, const void* lpData) : TracedCall(Call::kShell_NotifyIcon) {
        Arg("dwMessage", dwMessage);
        if (!lpData) ArgPtr("lpData", nullptr);
    }
    // The icon data's fields, as numbers; `icon` is the resource the icon was loaded from, when
    // known. Given only while the call is recorded.
    struct Data {
        DWORD cbSize;
        std::int64_t hWnd;
        UINT uID, uFlags, uCallbackMessage;
        std::int64_t hIcon;
        std::optional<std::int64_t> icon;
        std::u16string_view tip;  // up to its terminating null
    };
    void Fields(const Data& d);
};
struct GetCursorPosCall : TracedCall {
    explicit GetCursorPosCall(const void* lpPoint) : TracedCall(Call::kGetCursorPos) { ArgMem("lpPoint", lpPoint); }
    void Position(LONG x, LONG y) { Out("x", x).Out("y", y); }
};
struct CreatePopupMenuCall : TracedCall {
    CreatePopupMenuCall() : TracedCall(Call::kCreatePopupMenu) {}
};
struct AppendMenuCall : TracedCall {
    AppendMenuCall(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, const WCHAR* lpNewItem)
        : TracedCall(Call::kAppendMenu) {
        ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("uIDNewItem", static_cast<std::int64_t>(uIDNewItem));
        if (uFlags & MF_SEPARATOR)
            ArgPtr("lpNewItem", lpNewItem);
        else
            ArgW("lpNewItem", lpNewItem);
    }
};
struct CheckMenuItemCall : TracedCall {
    CheckMenuItemCall(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) : TracedCall(Call::kCheckMenuItem) {
        ArgPtr("hMenu", hMenu).Arg("uIDCheckItem", uIDCheckItem).ArgHex("uCheck", uCheck);
    }
};
struct DestroyMenuCall : TracedCall {
    explicit DestroyMenuCall(HMENU hMenu) : TracedCall(Call::kDestroyMenu) { ArgPtr("hMenu", hMenu); }
};
struct TrackPopupMenuCall : TracedCall {
    TrackPopupMenuCall(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect)
        : TracedCall(Call::kTrackPopupMenu) {
        ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("x", x).Arg("y", y).Arg("nReserved", nReserved);
        ArgPtr("hWnd", hWnd).ArgPtr("prcRect", prcRect);
    }
    // Where the menu was shown and what was chosen, where the platform knows.
    void Shown(const RECT& r) { Out("rect", TraceValue::List({r.left, r.top, r.right, r.bottom})); }
    void Chosen(std::optional<UINT> id) { Out("chosen", id ? TraceValue::Int(*id) : TraceValue::Null()); }
};
struct LoadImageCall : TracedCall {
    LoadImageCall(HINSTANCE hInst, const WCHAR* name, UINT type, int cx, int cy, UINT fuLoad)
        : TracedCall(Call::kLoadImage) {
        ArgPtr("hInst", hInst);
        ArgName(*this, "name", name);
        Arg("type", type).Arg("cx", cx).Arg("cy", cy).ArgHex("fuLoad", fuLoad);
    }
    void Problem(const char* what) { Out("problem", TraceValue::Text(what)); }
};
struct LoadStringCall : TracedCall {
    LoadStringCall(UINT uID, int cchBufferMax) : TracedCall(Call::kLoadString) {
        Arg("uID", uID).Arg("cchBufferMax", cchBufferMax);
    }
};

// ----- Windows, messages, timers and boxes -----------------------------------------------------

struct RegisterClassCall : TracedCall {
    explicit RegisterClassCall(const WCHAR* lpszClassName) : TracedCall(Call::kRegisterClass) {
        ArgW("lpszClassName", lpszClassName);
    }
};
struct UnregisterClassCall : TracedCall {
    explicit UnregisterClassCall(const WCHAR* lpClassName) : TracedCall(Call::kUnregisterClass) {
        ArgName(*this, "lpClassName", lpClassName);
    }
};
struct CreateWindowExCall : TracedCall {
    CreateWindowExCall(DWORD dwExStyle, const WCHAR* lpClassName, const WCHAR* lpWindowName, DWORD dwStyle, int x,
                       int y, int nWidth, int nHeight, HWND hWndParent)
        : TracedCall(Call::kCreateWindowEx) {
        ArgHex("dwExStyle", dwExStyle);
        ArgName(*this, "lpClassName", lpClassName);
        ArgW("lpWindowName", lpWindowName).ArgHex("dwStyle", dwStyle);
        Arg("x", x).Arg("y", y).Arg("nWidth", nWidth).Arg("nHeight", nHeight).ArgPtr("hWndParent", hWndParent);
    }
};
// The calls that record only their window.
struct WindowCall : TracedCall {
    WindowCall(Call call, HWND hWnd) : TracedCall(call) { ArgPtr("hWnd", hWnd); }
};
struct ShowWindowCall : TracedCall {
    ShowWindowCall(HWND hWnd, int nCmdShow) : TracedCall(Call::kShowWindow) {
        ArgPtr("hWnd", hWnd).Arg("nCmdShow", nCmdShow);
    }
};
struct SetWindowPosCall : TracedCall {
    SetWindowPosCall(HWND hWnd, int X, int Y, int cx, int cy, UINT uFlags) : TracedCall(Call::kSetWindowPos) {
        ArgPtr("hWnd", hWnd).Arg("X", X).Arg("Y", Y).Arg("cx", cx).Arg("cy", cy).ArgHex("uFlags", uFlags);
    }
};
// SendMessage and PostMessage.
struct MessageCall : TracedCall {
    MessageCall(Call call, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) : TracedCall(call) {
        ArgPtr("hWnd", hWnd).ArgHex("Msg", Msg).Arg("wParam", static_cast<std::int64_t>(wParam)).Arg("lParam", lParam);
    }
};
struct PostQuitMessageCall : TracedCall {
    explicit PostQuitMessageCall(int nExitCode) : TracedCall(Call::kPostQuitMessage) { Arg("nExitCode", nExitCode); }
};
struct SetTimerCall : TracedCall {
    SetTimerCall(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, const void* lpTimerFunc) : TracedCall(Call::kSetTimer) {
        ArgPtr("hWnd", hWnd).Arg("nIDEvent", static_cast<std::int64_t>(nIDEvent)).Arg("uElapse", uElapse);
        ArgMem("lpTimerFunc", lpTimerFunc);
    }
};
struct KillTimerCall : TracedCall {
    // `ms`: the period of the timer it ends, when there is one.
    KillTimerCall(HWND hWnd, UINT_PTR uIDEvent, std::optional<std::int64_t> ms) : TracedCall(Call::kKillTimer) {
        ArgPtr("hWnd", hWnd).Arg("uIDEvent", static_cast<std::int64_t>(uIDEvent));
        if (on()) Out("ms", ms ? TraceValue::Int(*ms) : TraceValue::Null());
    }
};
struct SleepCall : TracedCall {
    explicit SleepCall(DWORD dwMilliseconds) : TracedCall(Call::kSleep) { Arg("dwMilliseconds", dwMilliseconds); }
};
struct MessageBoxCall : TracedCall {
    MessageBoxCall(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType) : TracedCall(Call::kMessageBox) {
        ArgPtr("hWnd", hWnd).ArgW("lpText", lpText).ArgW("lpCaption", lpCaption).ArgHex("uType", uType);
    }
};
struct DialogBoxParamCall : TracedCall {
    // The template by name, "#N" for one given by number.
    DialogBoxParamCall(const WCHAR* lpTemplateName, HWND hWndParent) : TracedCall(Call::kDialogBoxParam) {
        if (!on()) return;
        std::string name = !lpTemplateName ? ""
                           : IS_INTRESOURCE(lpTemplateName)
                               ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(lpTemplateName))
                               : Wide(lpTemplateName).text;
        Arg("lpTemplateName", TraceValue::Text(std::move(name))).ArgPtr("hWndParent", hWndParent);
    }
};
struct EndDialogCall : TracedCall {
    EndDialogCall(HWND hDlg, INT_PTR nResult) : TracedCall(Call::kEndDialog) {
        ArgPtr("hDlg", hDlg).Arg("nResult", static_cast<std::int64_t>(nResult));
    }
};

}  // namespace tracing
