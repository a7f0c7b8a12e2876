// The Reg* calls, recorded as the host records them: out-parameters after the call under their
// own names, an in-out count as passed ("lpcbData") and as returned ("*lpcbData").
#include "platform/win32/traced.h"

using tracing::ApiCall;
using tracing::TraceValue;
using win32trace::On;

namespace {

void Count(ApiCall& c, const char* name, const DWORD* count) {
    c.Arg(name, count ? TraceValue::Int(*count) : TraceValue::Null());
}

// The value's type and size as the call reports them, also when it ran short of room.
void TypeAndSize(ApiCall& c, LONG r, DWORD type, const DWORD* size) {
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA)
        c.Out("lpType", TraceValue::Int(type)).Out("*lpcbData", TraceValue::Int(size ? *size : 0));
}

}  // namespace

LONG WINAPI TracedRegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (!On()) return PelornRegOpenKeyEx(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    ApiCall c("RegOpenKeyEx");
    c.ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("ulOptions", ulOptions).ArgHex("samDesired", samDesired);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    LONG r = PelornRegOpenKeyEx(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    if (r == ERROR_SUCCESS && c.on()) c.ArgKey("phkResult", *phkResult).NameKey(*phkResult, hKey, lpSubKey);
    return c.Result(r);
}

LONG WINAPI TracedRegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                                 REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                 LPDWORD lpdwDisposition) {
    if (!On())
        return RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                               phkResult, lpdwDisposition);
    ApiCall c("RegCreateKeyEx");
    c.ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey).Arg("Reserved", Reserved).ArgW("lpClass", lpClass);
    c.Arg("dwOptions", dwOptions).ArgHex("samDesired", samDesired).ArgPtr("lpSecurityAttributes", lpSecurityAttributes);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD disposition = 0;
    LPDWORD reported = lpdwDisposition ? lpdwDisposition : &disposition;
    LONG r = RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes, phkResult,
                             reported);
    if (r == ERROR_SUCCESS && c.on())
        c.ArgKey("phkResult", *phkResult)
            .Out("lpdwDisposition", TraceValue::Int(*reported))
            .NameKey(*phkResult, hKey, lpSubKey);
    return c.Result(r);
}

LONG WINAPI TracedRegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                  LPDWORD lpcbData) {
    if (!On()) return RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    ApiCall c("RegQueryValueEx");
    c.ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).ArgPtr("lpReserved", lpReserved);
    Count(c, "lpcbData", lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD type = 0, size = 0;
    LPDWORD sizes = lpcbData || lpData ? lpcbData : &size;
    LONG r = RegQueryValueExW(hKey, lpValueName, lpReserved, lpType ? lpType : &type, lpData, sizes);
    if (r == ERROR_SUCCESS && lpData) c.ArgBytes("lpData", lpData, *sizes);
    TypeAndSize(c, r, lpType ? *lpType : type, sizes);
    return c.Result(r);
}

LONG WINAPI TracedRegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                DWORD cbData) {
    if (!On()) return RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
    ApiCall c("RegSetValueEx");
    c.ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName).Arg("Reserved", Reserved).Arg("dwType", dwType);
    c.ArgBytes("lpData", lpData, cbData).Arg("cbData", cbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

LONG WINAPI TracedRegDeleteValue(HKEY hKey, LPCWSTR lpValueName) {
    if (!On()) return RegDeleteValueW(hKey, lpValueName);
    ApiCall c("RegDeleteValue");
    c.ArgKey("hKey", hKey).ArgW("lpValueName", lpValueName);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegDeleteValueW(hKey, lpValueName));
}

LONG WINAPI TracedRegDeleteKey(HKEY hKey, LPCWSTR lpSubKey) {
    if (!On()) return RegDeleteKeyW(hKey, lpSubKey);
    ApiCall c("RegDeleteKey");
    c.ArgKey("hKey", hKey).ArgW("lpSubKey", lpSubKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegDeleteKeyW(hKey, lpSubKey));
}

LONG WINAPI TracedRegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                               LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (!On())
        return RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    ApiCall c("RegEnumKeyEx");
    c.ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
    Count(c, "lpcchName", lpcchName);
    c.ArgPtr("lpReserved", lpReserved).ArgPtr("lpClass", lpClass);
    Count(c, "lpcchClass", lpcchClass);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    LONG r = RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
    if (r == ERROR_SUCCESS) c.ArgW("lpName", lpName).Out("*lpcchName", TraceValue::Int(*lpcchName));
    return c.Result(r);
}

LONG WINAPI TracedRegEnumValue(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                               LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!On()) return RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
    ApiCall c("RegEnumValue");
    c.ArgKey("hKey", hKey).Arg("dwIndex", dwIndex);
    Count(c, "lpcchValueName", lpcchValueName);
    c.ArgPtr("lpReserved", lpReserved);
    Count(c, "lpcbData", lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    DWORD type = 0, size = 0;
    LPDWORD sizes = lpcbData || lpData ? lpcbData : &size;
    LONG r =
        RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType ? lpType : &type, lpData, sizes);
    if (r == ERROR_SUCCESS) {
        c.ArgW("lpValueName", lpValueName).Out("*lpcchValueName", TraceValue::Int(*lpcchValueName));
        if (lpData) c.ArgBytes("lpData", lpData, *sizes);
    }
    TypeAndSize(c, r, lpType ? *lpType : type, sizes);
    return c.Result(r);
}

LONG WINAPI TracedRegCloseKey(HKEY hKey) {
    if (!On()) return RegCloseKey(hKey);
    ApiCall c("RegCloseKey");
    c.ArgKey("hKey", hKey).ForgetName(hKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    return c.Result(RegCloseKey(hKey));
}
