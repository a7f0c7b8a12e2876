// The Reg* calls, recorded as the host records them: out-parameters after the call under their
// own names, an in-out count as passed ("lpcbData") and as returned ("*lpcbData").
#include "platform/win32/traced.h"

using win32trace::On;

LONG WINAPI TracedRegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (!On()) return PelornRegOpenKeyEx(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    tracing::RegOpenKeyExCall c(hKey, lpSubKey, ulOptions, samDesired);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    LONG r = PelornRegOpenKeyEx(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (r == ERROR_SUCCESS && c.on()) c.Opened(*phkResult, hKey, lpSubKey);
    return c.Result(r);
}

LONG WINAPI TracedRegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                                 REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                 LPDWORD lpdwDisposition) {
    if (!On())
        return RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                               phkResult, lpdwDisposition);
    tracing::RegCreateKeyExCall c(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD disposition = 0;
    LPDWORD reported = lpdwDisposition ? lpdwDisposition : &disposition;
    LONG r = RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
                             reported);
    if (r == ERROR_SUCCESS && c.on()) c.Created(*phkResult, *reported, hKey, lpSubKey);
    return c.Result(r);
}

LONG WINAPI TracedRegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                  LPDWORD lpcbData) {
    if (!On()) return RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    tracing::RegQueryValueExCall c(hKey, lpValueName, lpReserved, lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD type = 0, size = 0;
    LPDWORD sizes = lpcbData || lpData ? lpcbData : &size;
    LONG r = RegQueryValueExW(hKey, lpValueName, lpReserved, lpType ? lpType : &type, lpData, sizes);
    if (r == ERROR_SUCCESS && lpData) c.Data(lpData, *sizes);
    c.TypeAndSize(r, lpType ? *lpType : type, sizes ? *sizes : 0);
    return c.Result(r);
}

LONG WINAPI TracedRegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                DWORD cbData) {
    if (!On()) return RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
    tracing::RegSetValueExCall c(hKey, lpValueName, Reserved, dwType, lpData, cbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

LONG WINAPI TracedRegDeleteValue(HKEY hKey, LPCWSTR lpValueName) {
    if (!On()) return RegDeleteValueW(hKey, lpValueName);
    tracing::RegDeleteValueCall c(hKey, lpValueName);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegDeleteValueW(hKey, lpValueName));
}

LONG WINAPI TracedRegDeleteKey(HKEY hKey, LPCWSTR lpSubKey) {
    if (!On()) return RegDeleteKeyW(hKey, lpSubKey);
    tracing::RegDeleteKeyCall c(hKey, lpSubKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegDeleteKeyW(hKey, lpSubKey));
}

LONG WINAPI TracedRegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                               LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (!On())
        return RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    tracing::RegEnumKeyExCall c(hKey, dwIndex, lpcchName, lpReserved, lpClass, lpcchClass);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    LONG r = RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    if (r == ERROR_SUCCESS) c.Name(lpName, *lpcchName);
    return c.Result(r);
}

LONG WINAPI TracedRegEnumValue(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                               LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!On()) return RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
    tracing::RegEnumValueCall c(hKey, dwIndex, lpcchValueName, lpReserved, lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD type = 0, size = 0;
    LPDWORD sizes = lpcbData || lpData ? lpcbData : &size;
    LONG r =
        RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType ? lpType : &type, lpData, sizes);
    if (r == ERROR_SUCCESS) {
        c.Name(lpValueName, *lpcchValueName);
        if (lpData) c.Data(lpData, *sizes);
    }
    c.TypeAndSize(r, lpType ? *lpType : type, sizes ? *sizes : 0);
    return c.Result(r);
}

LONG WINAPI TracedRegCloseKey(HKEY hKey) {
    if (!On()) return RegCloseKey(hKey);
    tracing::RegCloseKeyCall c(hKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegCloseKey(hKey));
}
