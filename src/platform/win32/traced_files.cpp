// Devices, serial ports and events, recorded as the host records them. "COM1:" and "BKL1:" are
// opened through the stand-ins, so the record names the device as the system named it.
#include <map>
#include <string>

#include "platform/win32/traced.h"

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
    tracing::CreateFileCall c(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes, dwCreationDisposition,
                              dwFlagsAndAttributes, hTemplateFile);
    if (DWORD e; c.Injected(&e)) return c.Result(INVALID_HANDLE_VALUE);
    return c.Result(PelornCreateFile(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile));
}

BOOL WINAPI TracedCloseHandle(HANDLE hObject) {
    if (!On()) return CloseHandle(hObject);
    tracing::CloseHandleCall c(hObject);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    g_events.erase(hObject);
    return c.Result(CloseHandle(hObject));
}

BOOL WINAPI TracedReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                           LPOVERLAPPED lpOverlapped) {
    if (!On()) return ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    tracing::ReadFileCall c(hFile, nNumberOfBytesToRead, lpOverlapped);
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    DWORD n = 0;
    LPDWORD read = lpNumberOfBytesRead ? lpNumberOfBytesRead : &n;
    BOOL ok = ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, read, lpOverlapped);
    c.Read(lpBuffer, *read);
    return c.Result(ok);
}

BOOL WINAPI TracedWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                            LPOVERLAPPED lpOverlapped) {
    if (!On()) return WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    tracing::WriteFileCall c(hFile, lpBuffer, nNumberOfBytesToWrite, lpOverlapped);
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
    tracing::DeviceIoControlCall c(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                                   lpBytesReturned, lpOverlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(PelornDeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                          nOutBufferSize, lpBytesReturned, lpOverlapped));
}

BOOL WINAPI TracedGetCommState(HANDLE hFile, LPDCB lpDCB) {
    if (!On()) return GetCommState(hFile, lpDCB);
    tracing::GetCommStateCall c(hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommState(hFile, lpDCB);
    if (ok) c.State(*lpDCB);
    return c.Result(ok);
}

BOOL WINAPI TracedSetCommState(HANDLE hFile, LPDCB lpDCB) {
    return win32trace::Plain<tracing::SetCommStateCall>(SetCommState, hFile, lpDCB);
}

BOOL WINAPI TracedGetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    if (!On()) return GetCommTimeouts(hFile, lpCommTimeouts);
    tracing::GetCommTimeoutsCall c(hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommTimeouts(hFile, lpCommTimeouts);
    if (ok) c.Timeouts(*lpCommTimeouts);
    return c.Result(ok);
}

BOOL WINAPI TracedSetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    return win32trace::Plain<tracing::SetCommTimeoutsCall>(SetCommTimeouts, hFile, lpCommTimeouts);
}

BOOL WINAPI TracedSetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    return win32trace::Plain<tracing::SetCommMaskCall>(SetCommMask, hFile, dwEvtMask);
}

BOOL WINAPI TracedWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
    if (!On()) return PelornWaitCommEvent(hFile, lpEvtMask, lpOverlapped);
    tracing::WaitCommEventCall c(hFile, lpOverlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = PelornWaitCommEvent(hFile, lpEvtMask, lpOverlapped);
    if (ok) c.Event(*lpEvtMask);
    return c.Result(ok);
}

BOOL WINAPI TracedGetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
    if (!On()) return GetCommModemStatus(hFile, lpModemStat);
    tracing::GetCommModemStatusCall c(hFile);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = GetCommModemStatus(hFile, lpModemStat);
    if (ok) c.Status(*lpModemStat);
    return c.Result(ok);
}

BOOL WINAPI TracedEscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    return win32trace::Plain<tracing::EscapeCommFunctionCall>(EscapeCommFunction, hFile, dwFunc);
}

HANDLE WINAPI TracedCreateEvent(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                                LPCWSTR lpName) {
    if (!On()) return CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
    tracing::CreateEventCall c(lpEventAttributes, bManualReset, bInitialState, lpName);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    HANDLE h = CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
    if (h) {
        DWORD error = GetLastError();
        c.Existed(error == ERROR_ALREADY_EXISTS);
        if (c.on() && lpName && *lpName) g_events[h] = tracing::Wide(lpName).text;
        SetLastError(error);
    }
    return c.Result(h);
}

BOOL WINAPI TracedSetEvent(HANDLE hEvent) {
    if (!On()) return SetEvent(hEvent);
    tracing::SetEventCall c(hEvent);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    BOOL ok = SetEvent(hEvent);
    if (auto it = g_events.find(hEvent); ok && it != g_events.end()) c.Signalled(it->second);
    return c.Result(ok);
}
