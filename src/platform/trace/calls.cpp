#include "platform/trace/calls.h"

#include <string>

namespace tracing {

const std::vector<CallInfo>& AllCalls() {
    static const std::vector<CallInfo> calls = {
#define PELORN_CALL_INFO(name, fails) {#name, fails},
        PELORN_TRACED_CALLS(PELORN_CALL_INFO)
#undef PELORN_CALL_INFO
    };
    return calls;
}

const CallInfo& Info(Call call) { return AllCalls()[static_cast<std::size_t>(call)]; }

namespace {

// A class or resource given by number is recorded as that number.
void ArgName(ApiCall& c, const char* name, const WCHAR* s) {
    if (IS_INTRESOURCE(s))
        c.Arg(name, static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(s)));
    else
        c.ArgW(name, s);
}

void Count(ApiCall& c, const char* name, const DWORD* count) {
    c.Arg(name, count ? TraceValue::Int(*count) : TraceValue::Null());
}

void TypeAndSize(ApiCall& c, LONG r, DWORD type, DWORD size) {
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) c.Out("lpType", type).Out("*lpcbData", size);
}

}  // namespace

CreateFileCall::CreateFileCall(const WCHAR* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               const void* lpSecurityAttributes, DWORD dwCreationDisposition,
                               DWORD dwFlagsAndAttributes, const void* hTemplateFile)
    : TracedCall(Call::kCreateFile) {
    ArgW("lpFileName", lpFileName).ArgHex("dwDesiredAccess", dwDesiredAccess).ArgHex("dwShareMode", dwShareMode);
    ArgPtr("lpSecurityAttributes", lpSecurityAttributes).Arg("dwCreationDisposition", dwCreationDisposition);
    ArgHex("dwFlagsAndAttributes", dwFlagsAndAttributes).ArgPtr("hTemplateFile", hTemplateFile);
    NamesResult(lpFileName);
}

CloseHandleCall::CloseHandleCall(const void* hObject) : TracedCall(Call::kCloseHandle) {
    ArgPtr("hObject", hObject).ForgetName(hObject);
}

ReadFileCall::ReadFileCall(const void* hFile, DWORD nNumberOfBytesToRead, const void* lpOverlapped)
    : TracedCall(Call::kReadFile) {
    ArgPtr("hFile", hFile).Arg("nNumberOfBytesToRead", nNumberOfBytesToRead).ArgPtr("lpOverlapped", lpOverlapped);
}

WriteFileCall::WriteFileCall(const void* hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
                             const void* lpOverlapped)
    : TracedCall(Call::kWriteFile) {
    ArgPtr("hFile", hFile).ArgBytes("lpBuffer", lpBuffer, nNumberOfBytesToWrite);
    Arg("nNumberOfBytesToWrite", nNumberOfBytesToWrite).ArgPtr("lpOverlapped", lpOverlapped);
}

DeviceIoControlCall::DeviceIoControlCall(const void* hDevice, DWORD dwIoControlCode, const void* lpInBuffer,
                                         DWORD nInBufferSize, const void* lpOutBuffer, DWORD nOutBufferSize,
                                         const void* lpBytesReturned, const void* lpOverlapped)
    : TracedCall(Call::kDeviceIoControl) {
    ArgPtr("hDevice", hDevice).Arg("dwIoControlCode", dwIoControlCode);
    ArgBytes("lpInBuffer", lpInBuffer, lpInBuffer ? nInBufferSize : 0);
    Arg("nInBufferSize", nInBufferSize).ArgMem("lpOutBuffer", lpOutBuffer).Arg("nOutBufferSize", nOutBufferSize);
    ArgMem("lpBytesReturned", lpBytesReturned).ArgPtr("lpOverlapped", lpOverlapped);
}

GetCommStateCall::GetCommStateCall(const void* hFile) : TracedCall(Call::kGetCommState) { ArgPtr("hFile", hFile); }

void GetCommStateCall::State(const DCB& dcb) {
    if (on()) DcbFields(*this, dcb);
}

SetCommStateCall::SetCommStateCall(const void* hFile, const DCB* dcb) : TracedCall(Call::kSetCommState) {
    ArgPtr("hFile", hFile);
    if (dcb && on()) DcbFields(*this, *dcb);
}

GetCommTimeoutsCall::GetCommTimeoutsCall(const void* hFile) : TracedCall(Call::kGetCommTimeouts) {
    ArgPtr("hFile", hFile);
}

void GetCommTimeoutsCall::Timeouts(const COMMTIMEOUTS& timeouts) {
    if (on()) TimeoutFields(*this, timeouts);
}

SetCommTimeoutsCall::SetCommTimeoutsCall(const void* hFile, const COMMTIMEOUTS* timeouts)
    : TracedCall(Call::kSetCommTimeouts) {
    ArgPtr("hFile", hFile);
    if (timeouts && on()) TimeoutFields(*this, *timeouts);
}

SetCommMaskCall::SetCommMaskCall(const void* hFile, DWORD dwEvtMask) : TracedCall(Call::kSetCommMask) {
    ArgPtr("hFile", hFile).ArgHex("dwEvtMask", dwEvtMask);
}

WaitCommEventCall::WaitCommEventCall(const void* hFile, const void* lpOverlapped) : TracedCall(Call::kWaitCommEvent) {
    ArgPtr("hFile", hFile).ArgPtr("lpOverlapped", lpOverlapped);
}

GetCommModemStatusCall::GetCommModemStatusCall(const void* hFile) : TracedCall(Call::kGetCommModemStatus) {
    ArgPtr("hFile", hFile);
}

EscapeCommFunctionCall::EscapeCommFunctionCall(const void* hFile, DWORD dwFunc) : TracedCall(Call::kEscapeCommFunction) {
    ArgPtr("hFile", hFile).Arg("dwFunc", dwFunc);
}

CreateEventCall::CreateEventCall(const void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                 const WCHAR* lpName)
    : TracedCall(Call::kCreateEvent) {
    ArgPtr("lpEventAttributes", lpEventAttributes).Arg("bManualReset", bManualReset);
    Arg("bInitialState", bInitialState).ArgW("lpName", lpName);
}

SetEventCall::SetEventCall(const void* hEvent) : TracedCall(Call::kSetEvent) { ArgPtr("hEvent", hEvent); }

GpioWriteCall::GpioWriteCall(std::uint64_t offset, ULONG value) : TracedCall(Call::kGpioWrite) {
    ArgHex("offset", offset).ArgHex("Value", value);
}

KernelIoControlCall::KernelIoControlCall(DWORD dwIoControlCode, const void* lpInBuf, DWORD nInBufSize,
                                         const void* lpOutBuf, DWORD nOutBufSize, const void* lpBytesReturned)
    : TracedCall(Call::kKernelIoControl) {
    Arg("dwIoControlCode", dwIoControlCode).ArgPtr("lpInBuf", lpInBuf).Arg("nInBufSize", nInBufSize);
    ArgMem("lpOutBuf", lpOutBuf).Arg("nOutBufSize", nOutBufSize).ArgMem("lpBytesReturned", lpBytesReturned);
}

GetSystemPowerStatusExCall::GetSystemPowerStatusExCall(const void* pstatus, BOOL fUpdate)
    : TracedCall(Call::kGetSystemPowerStatusEx) {
    ArgMem("pstatus", pstatus).Arg("fUpdate", fUpdate);
}

void GetSystemPowerStatusExCall::Status(int ac_line, int battery_flag, int battery_percent) {
    Out("ACLineStatus", ac_line).Out("BatteryFlag", battery_flag).Out("BatteryLifePercent", battery_percent);
}

RegOpenKeyExCall::RegOpenKeyExCall(HKEY hKey, const WCHAR* lpSubKey, DWORD ulOptions, REGSAM samDesired)
    : TracedCall(Call::kRegOpenKeyEx) {
    ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("ulOptions", ulOptions).ArgHex("samDesired", samDesired);
}

RegCreateKeyExCall::RegCreateKeyExCall(HKEY hKey, const WCHAR* lpSubKey, DWORD Reserved, const WCHAR* lpClass,
                                       DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes)
    : TracedCall(Call::kRegCreateKeyEx) {
    ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("Reserved", Reserved).ArgW("lpClass", lpClass);
    Arg("dwOptions", dwOptions).ArgHex("samDesired", samDesired).ArgPtr("lpSecurityAttributes", lpSecurityAttributes);
}

RegQueryValueExCall::RegQueryValueExCall(HKEY hKey, const WCHAR* lpValueName, const void* lpReserved,
                                         const DWORD* lpcbData)
    : TracedCall(Call::kRegQueryValueEx) {
    ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).ArgPtr("lpReserved", lpReserved);
    Count(*this, "lpcbData", lpcbData);
}

void RegQueryValueExCall::TypeAndSize(LONG r, DWORD type, DWORD size) { tracing::TypeAndSize(*this, r, type, size); }

RegSetValueExCall::RegSetValueExCall(HKEY hKey, const WCHAR* lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData)
    : TracedCall(Call::kRegSetValueEx) {
    ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).Arg("Reserved", Reserved).Arg("dwType", dwType);
    ArgBytes("lpData", lpData, cbData).Arg("cbData", cbData);
}

RegDeleteValueCall::RegDeleteValueCall(HKEY hKey, const WCHAR* lpValueName) : TracedCall(Call::kRegDeleteValue) {
    ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName);
}

RegDeleteKeyCall::RegDeleteKeyCall(HKEY hKey, const WCHAR* lpSubKey) : TracedCall(Call::kRegDeleteKey) {
    ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey);
}

RegEnumKeyExCall::RegEnumKeyExCall(HKEY hKey, DWORD dwIndex, const DWORD* lpcchName, const void* lpReserved,
                                   const void* lpClass, const DWORD* lpcchClass)
    : TracedCall(Call::kRegEnumKeyEx) {
    ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
    Count(*this, "lpcchName", lpcchName);
    ArgPtr("lpReserved", lpReserved).ArgPtr("lpClass", lpClass);
    Count(*this, "lpcchClass", lpcchClass);
}

RegEnumValueCall::RegEnumValueCall(HKEY hKey, DWORD dwIndex, const DWORD* lpcchValueName, const void* lpReserved,
                                   const DWORD* lpcbData)
    : TracedCall(Call::kRegEnumValue) {
    ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
    Count(*this, "lpcchValueName", lpcchValueName);
    ArgPtr("lpReserved", lpReserved);
    Count(*this, "lpcbData", lpcbData);
}

void RegEnumValueCall::TypeAndSize(LONG r, DWORD type, DWORD size) { tracing::TypeAndSize(*this, r, type, size); }

RegCloseKeyCall::RegCloseKeyCall(HKEY hKey) : TracedCall(Call::kRegCloseKey) { ArgKey("hKey", hKey).ForgetName(hKey); }

ShellNotifyIconCall::ShellNotifyIconCall(DWORD dwMessage, const void* lpData) : TracedCall(Call::kShell_NotifyIcon) {
    Arg("dwMessage", dwMessage);
    if (!lpData) ArgPtr("lpData", nullptr);
}

void ShellNotifyIconCall::Fields(const Data& d) {
    Arg("cbSize", d.cbSize).Arg("hWnd", d.hWnd).Arg("uID", d.uID);
    ArgHex("uFlags", d.uFlags).ArgHex("uCallbackMessage", d.uCallbackMessage).Arg("hIcon", d.hIcon);
    Out("icon", d.icon ? TraceValue::Int(*d.icon) : TraceValue::Null());
    if (d.uFlags & NIF_TIP) Arg("szTip", TraceValue::Text(json::Utf8(d.tip)));
}

GetCursorPosCall::GetCursorPosCall(const void* lpPoint) : TracedCall(Call::kGetCursorPos) { ArgMem("lpPoint", lpPoint); }

AppendMenuCall::AppendMenuCall(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, const WCHAR* lpNewItem)
    : TracedCall(Call::kAppendMenu) {
    ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("uIDNewItem", static_cast<std::int64_t>(uIDNewItem));
    if (uFlags & MF_SEPARATOR)
        ArgPtr("lpNewItem", lpNewItem);
    else
        ArgW("lpNewItem", lpNewItem);
}

CheckMenuItemCall::CheckMenuItemCall(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) : TracedCall(Call::kCheckMenuItem) {
    ArgPtr("hMenu", hMenu).Arg("uIDCheckItem", uIDCheckItem).ArgHex("uCheck", uCheck);
}

DestroyMenuCall::DestroyMenuCall(HMENU hMenu) : TracedCall(Call::kDestroyMenu) { ArgPtr("hMenu", hMenu); }

TrackPopupMenuCall::TrackPopupMenuCall(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd,
                                       const RECT* prcRect)
    : TracedCall(Call::kTrackPopupMenu) {
    ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("x", x).Arg("y", y).Arg("nReserved", nReserved);
    ArgPtr("hWnd", hWnd).ArgPtr("prcRect", prcRect);
}

LoadImageCall::LoadImageCall(HINSTANCE hInst, const WCHAR* name, UINT type, int cx, int cy, UINT fuLoad)
    : TracedCall(Call::kLoadImage) {
    ArgPtr("hInst", hInst);
    ArgName(*this, "name", name);
    Arg("type", type).Arg("cx", cx).Arg("cy", cy).ArgHex("fuLoad", fuLoad);
}

LoadStringCall::LoadStringCall(UINT uID, int cchBufferMax) : TracedCall(Call::kLoadString) {
    Arg("uID", uID).Arg("cchBufferMax", cchBufferMax);
}

RegisterClassCall::RegisterClassCall(const WCHAR* lpszClassName) : TracedCall(Call::kRegisterClass) {
    ArgW("lpszClassName", lpszClassName);
}

UnregisterClassCall::UnregisterClassCall(const WCHAR* lpClassName) : TracedCall(Call::kUnregisterClass) {
    ArgName(*this, "lpClassName", lpClassName);
}

CreateWindowExCall::CreateWindowExCall(DWORD dwExStyle, const WCHAR* lpClassName, const WCHAR* lpWindowName,
                                       DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent)
    : TracedCall(Call::kCreateWindowEx) {
    ArgHex("dwExStyle", dwExStyle);
    ArgName(*this, "lpClassName", lpClassName);
    ArgW("lpWindowName", lpWindowName).ArgHex("dwStyle", dwStyle);
    Arg("x", x).Arg("y", y).Arg("nWidth", nWidth).Arg("nHeight", nHeight).ArgPtr("hWndParent", hWndParent);
}

WindowCall::WindowCall(Call call, HWND hWnd) : TracedCall(call) { ArgPtr("hWnd", hWnd); }

ShowWindowCall::ShowWindowCall(HWND hWnd, int nCmdShow) : TracedCall(Call::kShowWindow) {
    ArgPtr("hWnd", hWnd).Arg("nCmdShow", nCmdShow);
}

SetWindowPosCall::SetWindowPosCall(HWND hWnd, int X, int Y, int cx, int cy, UINT uFlags)
    : TracedCall(Call::kSetWindowPos) {
    ArgPtr("hWnd", hWnd).Arg("X", X).Arg("Y", Y).Arg("cx", cx).Arg("cy", cy).ArgHex("uFlags", uFlags);
}

MessageCall::MessageCall(Call call, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) : TracedCall(call) {
    ArgPtr("hWnd", hWnd).ArgHex("Msg", Msg).Arg("wParam", static_cast<std::int64_t>(wParam)).Arg("lParam", lParam);
}

PostQuitMessageCall::PostQuitMessageCall(int nExitCode) : TracedCall(Call::kPostQuitMessage) {
    Arg("nExitCode", nExitCode);
}

SetTimerCall::SetTimerCall(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, const void* lpTimerFunc)
    : TracedCall(Call::kSetTimer) {
    ArgPtr("hWnd", hWnd).Arg("nIDEvent", static_cast<std::int64_t>(nIDEvent)).Arg("uElapse", uElapse);
    ArgMem("lpTimerFunc", lpTimerFunc);
}

KillTimerCall::KillTimerCall(HWND hWnd, UINT_PTR uIDEvent, std::optional<std::int64_t> ms)
    : TracedCall(Call::kKillTimer) {
    ArgPtr("hWnd", hWnd).Arg("uIDEvent", static_cast<std::int64_t>(uIDEvent));
    if (on()) Out("ms", ms ? TraceValue::Int(*ms) : TraceValue::Null());
}

SleepCall::SleepCall(DWORD dwMilliseconds) : TracedCall(Call::kSleep) { Arg("dwMilliseconds", dwMilliseconds); }

MessageBoxCall::MessageBoxCall(HWND hWnd, const WCHAR* lpText, const WCHAR* lpCaption, UINT uType)
    : TracedCall(Call::kMessageBox) {
    ArgPtr("hWnd", hWnd).ArgW("lpText", lpText).ArgW("lpCaption", lpCaption).ArgHex("uType", uType);
}

DialogBoxParamCall::DialogBoxParamCall(const WCHAR* lpTemplateName, HWND hWndParent)
    : TracedCall(Call::kDialogBoxParam) {
    if (!on()) return;
    std::string name = !lpTemplateName                ? ""
                       : IS_INTRESOURCE(lpTemplateName) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(lpTemplateName))
                                                        : Wide(lpTemplateName).text;
    Arg("lpTemplateName", TraceValue::Text(std::move(name))).ArgPtr("hWndParent", hWndParent);
}

EndDialogCall::EndDialogCall(HWND hDlg, INT_PTR nResult) : TracedCall(Call::kEndDialog) {
    ArgPtr("hDlg", hDlg).Arg("nResult", static_cast<std::int64_t>(nResult));
}

}  // namespace tracing
