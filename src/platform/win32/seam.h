// The seam on Win32: <windows.h> in its wide-character form, plus stand-ins for what exists only on
// the handheld. The stand-ins keep their state under HKEY_CURRENT_USER\Software\Handheld, where
// other programs (and tests) can read and set it:
//   Gpio       GPLR0, GPLR1  pin levels (DWORD); Writes: "offset=value" log of register writes
//   Backlight  Level, Requests  the last level sent to "BKL1:" and how many requests came
//   Hal        IoControlCode, Input, Calls  the last KernelIoControl and how many came
//   Power      ACLine  when present, overrides the real AC line status; under HKEY_LOCAL_MACHINE,
//              where the virtual handheld keeps it too
//   Trace      File, Fail  switch the trace and faults on, as PELORN_TRACE and PELORN_FAIL do
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
// The rest need windows.h first.
#include <shellapi.h>
#include <tchar.h>
#include <winioctl.h>

// ---------------------------------------------------------------------------------------------
// What the handheld's headers name and the desktop's do not
// ---------------------------------------------------------------------------------------------

#define WS_EX_CAPTIONOKBTN 0x80000000L
#define FILE_DEVICE_HAL 0x00000101

#include "platform/power_status_ex.h"

// The desktop's record has the handheld's layout, on both widths.
static_assert(sizeof(DCB) == 28, "the device-control block is 28 bytes");

BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf, DWORD nOutBufSize,
                     LPDWORD lpBytesReturned);

// The GPIO block's addresses (0xA7000000 onwards) reach the stand-in; any other address is memory.
ULONG READ_REGISTER_ULONG(volatile ULONG* Register);
void WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value);

// ---------------------------------------------------------------------------------------------
// Calls whose handheld behaviour differs from the desktop's
// ---------------------------------------------------------------------------------------------

// "BKL1:" opens the backlight stand-in; "COMn:" is the desktop's \\.\COMn; anything else as is.
HANDLE PelornCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                        DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Requests to the backlight stand-in are recorded; every other handle goes to the real call.
BOOL PelornDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                           LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                           LPOVERLAPPED lpOverlapped);
// The handheld's serial ports end an event wait that sees nothing for half a second, reporting no
// event; the desktop's wait forever.
BOOL PelornWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped);
// The handheld ignores the requested access (it must be 0 there) and grants all of it.
LONG PelornRegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// ---------------------------------------------------------------------------------------------
// The recording layer (traced_*.cpp)
// ---------------------------------------------------------------------------------------------

// Every platform call the system makes goes through one of these: it records the call when the
// trace is on, fails it when a fault is armed for it (trace_session.cpp says how both are switched
// on), and makes the call beneath, the desktop's or a stand-in above. The stand-ins for what
// only the handheld has record themselves. Defining PELORN_REAL_CALLS before this header keeps
// the names meaning the real calls.
decltype(::RegOpenKeyExW) TracedRegOpenKeyEx;
decltype(::RegCreateKeyExW) TracedRegCreateKeyEx;
decltype(::RegQueryValueExW) TracedRegQueryValueEx;
decltype(::RegSetValueExW) TracedRegSetValueEx;
decltype(::RegDeleteValueW) TracedRegDeleteValue;
decltype(::RegDeleteKeyW) TracedRegDeleteKey;
decltype(::RegEnumKeyExW) TracedRegEnumKeyEx;
decltype(::RegEnumValueW) TracedRegEnumValue;
decltype(::RegCloseKey) TracedRegCloseKey;
decltype(::CreateFileW) TracedCreateFile;
decltype(::CloseHandle) TracedCloseHandle;
decltype(::ReadFile) TracedReadFile;
decltype(::WriteFile) TracedWriteFile;
decltype(::DeviceIoControl) TracedDeviceIoControl;
decltype(::GetCommState) TracedGetCommState;
decltype(::SetCommState) TracedSetCommState;
decltype(::GetCommTimeouts) TracedGetCommTimeouts;
decltype(::SetCommTimeouts) TracedSetCommTimeouts;
decltype(::SetCommMask) TracedSetCommMask;
decltype(::WaitCommEvent) TracedWaitCommEvent;
decltype(::GetCommModemStatus) TracedGetCommModemStatus;
decltype(::EscapeCommFunction) TracedEscapeCommFunction;
decltype(::CreateEventW) TracedCreateEvent;
decltype(::SetEvent) TracedSetEvent;
decltype(::Sleep) TracedSleep;
decltype(::RegisterClassW) TracedRegisterClass;
decltype(::UnregisterClassW) TracedUnregisterClass;
decltype(::CreateWindowExW) TracedCreateWindowEx;
decltype(::DestroyWindow) TracedDestroyWindow;
decltype(::ShowWindow) TracedShowWindow;
decltype(::SetForegroundWindow) TracedSetForegroundWindow;
decltype(::SetActiveWindow) TracedSetActiveWindow;
decltype(::SetWindowPos) TracedSetWindowPos;
decltype(::SendMessageW) TracedSendMessage;
decltype(::PostMessageW) TracedPostMessage;
decltype(::PostQuitMessage) TracedPostQuitMessage;
decltype(::SetTimer) TracedSetTimer;
decltype(::KillTimer) TracedKillTimer;
decltype(::MessageBoxW) TracedMessageBox;
decltype(::DialogBoxParamW) TracedDialogBoxParam;
decltype(::EndDialog) TracedEndDialog;
decltype(::Shell_NotifyIconW) TracedShell_NotifyIcon;
decltype(::GetCursorPos) TracedGetCursorPos;
decltype(::CreatePopupMenu) TracedCreatePopupMenu;
decltype(::AppendMenuW) TracedAppendMenu;
decltype(::CheckMenuItem) TracedCheckMenuItem;
decltype(::DestroyMenu) TracedDestroyMenu;
decltype(::TrackPopupMenu) TracedTrackPopupMenu;
decltype(::LoadImageW) TracedLoadImage;
decltype(::LoadStringW) TracedLoadString;

#ifndef PELORN_REAL_CALLS
#undef RegOpenKeyEx
#undef RegCreateKeyEx
#undef RegQueryValueEx
#undef RegSetValueEx
#undef RegDeleteValue
#undef RegDeleteKey
#undef RegEnumKeyEx
#undef RegEnumValue
#undef CreateFile
#undef CreateEvent
#undef RegisterClass
#undef UnregisterClass
#undef CreateWindowEx
#undef SendMessage
#undef PostMessage
#undef MessageBox
#undef DialogBoxParam
#undef Shell_NotifyIcon
#undef AppendMenu
#undef LoadImage
#undef LoadString
#define RegOpenKeyEx TracedRegOpenKeyEx
#define RegCreateKeyEx TracedRegCreateKeyEx
#define RegQueryValueEx TracedRegQueryValueEx
#define RegSetValueEx TracedRegSetValueEx
#define RegDeleteValue TracedRegDeleteValue
#define RegDeleteKey TracedRegDeleteKey
#define RegEnumKeyEx TracedRegEnumKeyEx
#define RegEnumValue TracedRegEnumValue
#define RegCloseKey TracedRegCloseKey
#define CreateFile TracedCreateFile
#define CloseHandle TracedCloseHandle
#define ReadFile TracedReadFile
#define WriteFile TracedWriteFile
#define DeviceIoControl TracedDeviceIoControl
#define GetCommState TracedGetCommState
#define SetCommState TracedSetCommState
#define GetCommTimeouts TracedGetCommTimeouts
#define SetCommTimeouts TracedSetCommTimeouts
#define SetCommMask TracedSetCommMask
#define WaitCommEvent TracedWaitCommEvent
#define GetCommModemStatus TracedGetCommModemStatus
#define EscapeCommFunction TracedEscapeCommFunction
#define CreateEvent TracedCreateEvent
#define SetEvent TracedSetEvent
#define Sleep TracedSleep
#define RegisterClass TracedRegisterClass
#define UnregisterClass TracedUnregisterClass
#define CreateWindowEx TracedCreateWindowEx
#define DestroyWindow TracedDestroyWindow
#define ShowWindow TracedShowWindow
#define SetForegroundWindow TracedSetForegroundWindow
#define SetActiveWindow TracedSetActiveWindow
#define SetWindowPos TracedSetWindowPos
#define SendMessage TracedSendMessage
#define PostMessage TracedPostMessage
#define PostQuitMessage TracedPostQuitMessage
#define SetTimer TracedSetTimer
#define KillTimer TracedKillTimer
#define MessageBox TracedMessageBox
#define DialogBoxParam TracedDialogBoxParam
#define EndDialog TracedEndDialog
#define Shell_NotifyIcon TracedShell_NotifyIcon
#define GetCursorPos TracedGetCursorPos
#define CreatePopupMenu TracedCreatePopupMenu
#define AppendMenu TracedAppendMenu
#define CheckMenuItem TracedCheckMenuItem
#define DestroyMenu TracedDestroyMenu
#define TrackPopupMenu TracedTrackPopupMenu
#define LoadImage TracedLoadImage
#define LoadString TracedLoadString
#endif
