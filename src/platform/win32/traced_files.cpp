// Devices, serial ports and events, recorded as the host records them. "COM1:" and "BKL1:" are
// opened through the stand-ins, so the record names the device as the system named it.
#include <map>
#include <string>

#include "platform/win32/traced.h"

using tracing::ApiCall;
using tracing::TraceValue;
using win32trace::On;

namespace {

// Event names by handle, so that a SetEvent says which event it signalled.
std::map<HANDLE, std::string> g_events;

}  // namespace

HANDLE WINAPI TracedCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                               DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (!On())
        return PelornCreateFile(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                                dwFlagsAndAttributes, hTemplateFile);
    ApiCall c("CreateFile");
    c.ArgW("lpFileName", lpFileName).ArgHex("dwDesiredAccess", dwDesiredAccess).ArgHex("dwShareMode", dwShareMode);
    c.ArgPtr("lpSecurityAttributes", lpSecurityAttributes).Arg("dwCreationDisposition", dwCreationDisposition);
    c.ArgHex("dwFlagsAndAttributes", dwFlagsAndAttributes).ArgPtr("hTemplateFile", hTemplateFile);
    c.NamesResult(lpFileName);
    if (DWORD e; c.Injected(&e)) return c.Result(INVALID_HANDLE_VALUE);
    return c.Result(PelornCreateFile(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile));
}

BOOL WINAPI TracedCloseHandle(HANDLE hObject) {
    if (!On()) return CloseHandle(hObject);
    ApiCall c("CloseHandle");
    c.ArgPtr("hObject", hObject).ForgetName(hObject);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    g_events.erase(hObject);
    return c.Result(CloseHandle(hObject));
}

BOOL WINAPI TracedReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                           LPOVERLAPPED lpOverlapped) {
    if (!On()) return ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    ApiCall c("ReadFile");
    c.ArgPtr("hFile", hFile).Arg("nNumberOfBytesToRead", nNumberOfBytesToRead).ArgPtr("lpOverlapped", lpOverlapped);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    DWORD n = 0;
    LPDWORD read = lpNumberOfBytesRead ? lpNumberOfBytesRead : &n;
    BOOL ok = ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, read, lpOverlapped);
    c.ArgBytes("data", lpBuffer, *read);
    return c.Result(ok);
}

BOOL WINAPI TracedWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                            LPOVERLAPPED lpOverlapped) {
    if (!On()) return WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    ApiCall c("WriteFile");
    c.ArgPtr("hFile", hFile).ArgBytes("lpBuffer", lpBuffer, nNumberOfBytesToWrite);
    c.Arg("nNumberOfBytesToWrite", nNumberOfBytesToWrite).ArgPtr("lpOverlapped", lpOverlapped);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped));
}

BOOL WINAPI TracedDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                                  LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                  LPOVERLAPPED lpOverlapped) {
    if (!On())
        return PelornDeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                                     lpBytesReturned, lpOverlapped);
    ApiCall c("DeviceIoControl");
    c.ArgPtr("hDevice", hDevice).Arg("dwIoControlCode", dwIoControlCode);
    c.ArgBytes("lpInBuffer", lpInBuffer, lpInBuffer ? nInBufferSize : 0);
    c.Arg("nInBufferSize", nInBufferSize).ArgMem("lpOutBuffer", lpOutBuffer).Arg("nOutBufferSize", nOutBufferSize);
    c.ArgMem("lpBytesReturned", lpBytesReturned).ArgPtr("lpOverlapped", lpOverlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(PelornDeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                          nOutBufferSize, lpBytesReturned, lpOverlapped));
}

BOOL WINAPI TracedGetCommState(HANDLE hFile, LPDCB lpDCB) {
    if (!On()) return GetCommState(hFile, lpDCB);
    ApiCall c("GetCommState");
    c.ArgPtr("hFile", hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommState(hFile, lpDCB);
    if (ok && c.on()) tracing::DcbFields(c, *lpDCB);
    return c.Result(ok);
}

BOOL WINAPI TracedSetCommState(HANDLE hFile, LPDCB lpDCB) {
    if (!On()) return SetCommState(hFile, lpDCB);
    ApiCall c("SetCommState");
    c.ArgPtr("hFile", hFile);
    if (lpDCB && c.on()) tracing::DcbFields(c, *lpDCB);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(SetCommState(hFile, lpDCB));
}

BOOL WINAPI TracedGetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    if (!On()) return GetCommTimeouts(hFile, lpCommTimeouts);
    ApiCall c("GetCommTimeouts");
    c.ArgPtr("hFile", hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommTimeouts(hFile, lpCommTimeouts);
    if (ok && c.on()) tracing::TimeoutFields(c, *lpCommTimeouts);
    return c.Result(ok);
}

BOOL WINAPI TracedSetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    if (!On()) return SetCommTimeouts(hFile, lpCommTimeouts);
    ApiCall c("SetCommTimeouts");
    c.ArgPtr("hFile", hFile);
    if (lpCommTimeouts && c.on()) tracing::TimeoutFields(c, *lpCommTimeouts);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(SetCommTimeouts(hFile, lpCommTimeouts));
}

BOOL WINAPI TracedSetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    if (!On()) return SetCommMask(hFile, dwEvtMask);
    ApiCall c("SetCommMask");
    c.ArgPtr("hFile", hFile).ArgHex("dwEvtMask", dwEvtMask);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(SetCommMask(hFile, dwEvtMask));
}

BOOL WINAPI TracedWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
    if (!On()) return PelornWaitCommEvent(hFile, lpEvtMask, lpOverlapped);
    ApiCall c("WaitCommEvent");
    c.ArgPtr("hFile", hFile).ArgPtr("lpOverlapped", lpOverlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = PelornWaitCommEvent(hFile, lpEvtMask, lpOverlapped);
    if (ok) c.ArgHex("EvtMask", *lpEvtMask);
    return c.Result(ok);
}

BOOL WINAPI TracedGetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
    if (!On()) return GetCommModemStatus(hFile, lpModemStat);
    ApiCall c("GetCommModemStatus");
    c.ArgPtr("hFile", hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommModemStatus(hFile, lpModemStat);
    if (ok) c.ArgHex("ModemStat", *lpModemStat);
    return c.Result(ok);
}

BOOL WINAPI TracedEscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    if (!On()) return EscapeCommFunction(hFile, dwFunc);
    ApiCall c("EscapeCommFunction");
    c.ArgPtr("hFile", hFile).Arg("dwFunc", dwFunc);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(EscapeCommFunction(hFile, dwFunc));
}

HANDLE WINAPI TracedCreateEvent(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                LPCWSTR lpName) {
    if (!On()) return CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
    ApiCall c("CreateEvent");
    c.ArgPtr("lpEventAttributes", lpEventAttributes).Arg("bManualReset", bManualReset);
    c.Arg("bInitialState", bInitialState).ArgW("lpName", lpName);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    HANDLE h = CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
    if (h) {
        DWORD error = GetLastError();
        c.Out("existed", TraceValue::Bool(error == ERROR_ALREADY_EXISTS));
        if (c.on() && lpName && *lpName) g_events[h] = tracing::Wide(lpName).text;
        SetLastError(error);
    }
    return c.Result(h);
}

BOOL WINAPI TracedSetEvent(HANDLE hEvent) {
    if (!On()) return SetEvent(hEvent);
    ApiCall c("SetEvent");
    c.ArgPtr("hEvent", hEvent);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = SetEvent(hEvent);
    if (auto it = g_events.find(hEvent); ok && it != g_events.end()) c.Out("name", TraceValue::Text(it->second));
    return c.Result(ok);
}
