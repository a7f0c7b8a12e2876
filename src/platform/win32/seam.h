// The seam on Win32: <windows.h> in its wide-character form, plus stand-ins for what exists only on
// the handheld. The stand-ins keep their state under HKEY_CURRENT_USER\Software\Handheld, where
// other programs (and tests) can read and set it:
//   Gpio       GPLR0, GPLR1  pin levels (DWORD); Writes: "offset=value" log of register writes
//   Backlight  Level, Requests  the last level sent to "BKL1:" and how many requests came
//   Hal        IoControlCode, Input, Calls  the last KernelIoControl and how many came
//   Power      ACLineStatus  when present, overrides the real AC line status
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

#undef CreateFile
#define CreateFile PelornCreateFile
#define DeviceIoControl PelornDeviceIoControl
#define WaitCommEvent PelornWaitCommEvent
#undef RegOpenKeyEx
#define RegOpenKeyEx PelornRegOpenKeyEx
