// The Reg* functions of the seam.
//
// Trace records carry the arguments under their Win32 names. Out-parameters appear after the
// call under their own names (phkResult, lpdwDisposition, lpType, lpData, lpName, ...); an
// in-out count is recorded as passed under its name and as returned under "*name" (lpcbData
// and *lpcbData). Out-parameters of a failing call are left as they were, except that
// ERROR_MORE_DATA reports the type and the size needed, as Win32 does.
//
// Access masks are not checked: the handheld does not check them either.

#include <cstring>

#include "platform/host/handheld.h"
#include "platform/host/objects.h"
#include "platform/host/registry_store.h"
#include "platform/host/seam.h"
#include "platform/host/trace.h"

namespace {

using host::ApiCall;
using host::RegistryStore;
using host::RegKeyId;
using host::TraceValue;
namespace json = host::json;

host::KeyTable& Table() { return host::Handheld::Current().keys(); }

RegistryStore& Store() { return host::Handheld::Current().registry(); }

// Roots are sign-extended on 64-bit; the trace names them by their 32-bit values.
HKEY Traced(HKEY h) {
    if (!RegistryStore::Root(h)) return h;
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(h))));
}

LONG Resolve(HKEY h, RegKeyId* key) {
    if (RegKeyId root = RegistryStore::Root(h)) {
        *key = root;
        return ERROR_SUCCESS;
    }
    if (h && Table().Find(h, key)) return ERROR_SUCCESS;
    return ERROR_INVALID_HANDLE;
}

std::u16string_view View(const WCHAR* s) { return s ? std::u16string_view(s) : std::u16string_view(); }

// Values read are handed through here, so that the monitor's reads allocate nothing.
thread_local host::RegValue t_value;

void AddCount(ApiCall& c, const char* name, const DWORD* count) {
    if (!c.on()) return;
    if (count)
        c.Arg(name, std::int64_t{*count});
    else
        c.Arg(name, TraceValue::Null());
}

}  // namespace

LONG RegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    ApiCall c("RegOpenKeyEx");
    c.ArgKey("hKey", Traced(hKey))
        .ArgW("lpSubKey", lpSubKey)
        .Arg("ulOptions", ulOptions)
        .ArgHex("samDesired", samDesired);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (!phkResult) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId base = 0;
    if (LONG r = Resolve(hKey, &base)) return c.Result(r);
    HKEY result = nullptr;
    if (RegistryStore::Root(hKey) && (!lpSubKey || !*lpSubKey)) {
        result = hKey;  // a root opened again is the root itself
    } else {
        RegKeyId key = 0;
        if (LONG r = store.OpenKey(base, View(lpSubKey), &key)) return c.Result(r);
        result = Table().Add(key);
    }
    *phkResult = result;
    if (c.on()) c.ArgKey("phkResult", Traced(result)).NameKey(result, hKey, lpSubKey);
    return c.Result(ERROR_SUCCESS);
}

LONG RegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
    ApiCall c("RegCreateKeyEx");
    c.ArgKey("hKey", Traced(hKey)).ArgW("lpSubKey", lpSubKey).Arg("Reserved", Reserved).ArgW("lpClass", lpClass);
    c.Arg("dwOptions", dwOptions).ArgHex("samDesired", samDesired).ArgPtr("lpSecurityAttributes", lpSecurityAttributes);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (!phkResult) return c.Result(ERROR_BADKEY);
    if (Reserved) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId base = 0;
    if (LONG r = Resolve(hKey, &base)) return c.Result(r);
    RegKeyId key = 0;
    bool created = false;
    if (LONG r = store.CreateKey(base, View(lpSubKey), &key, &created)) return c.Result(r);
    HKEY result = Table().Add(key);
    DWORD disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = result;
    if (lpdwDisposition) *lpdwDisposition = disposition;
    if (c.on())
        c.ArgKey("phkResult", Traced(result)).Out("lpdwDisposition", disposition).NameKey(result, hKey, lpSubKey);
    return c.Result(ERROR_SUCCESS);
}

LONG RegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData) {
    ApiCall c("RegQueryValueEx");
    c.ArgKey("hKey", Traced(hKey)).ArgW("lpValueName", lpValueName).ArgPtr("lpReserved", lpReserved);
    AddCount(c, "lpcbData", lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if ((lpData && !lpcbData) || lpReserved) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    host::RegValue& v = t_value;
    if (LONG r = store.GetValue(key, View(lpValueName), &v)) return c.Result(r);
    auto size = static_cast<DWORD>(v.data.size());
    LONG status = ERROR_SUCCESS;
    if (lpData) {
        if (size > *lpcbData) {
            status = ERROR_MORE_DATA;
        } else {
            if (size) std::memcpy(lpData, v.data.data(), size);
            c.ArgBytes("lpData", lpData, size);
            const host::Handheld& device = host::Handheld::Current();
            if (device.value_reads() && !device.quiet()) device.value_reads()(View(lpValueName), lpData, size);
        }
    }
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    if (c.on()) c.Out("lpType", v.type).Out("*lpcbData", size);
    return c.Result(status);
}

LONG RegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    ApiCall c("RegSetValueEx");
    c.ArgKey("hKey", Traced(hKey)).ArgW("lpValueName", lpValueName).Arg("Reserved", Reserved).Arg("dwType", dwType);
    c.ArgBytes("lpData", lpData, cbData).Arg("cbData", cbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (!lpData && cbData) return c.Result(ERROR_NOACCESS);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    return c.Result(store.SetValue(key, View(lpValueName), dwType, lpData, cbData));
}

LONG RegDeleteValue(HKEY hKey, LPCWSTR lpValueName) {
    ApiCall c("RegDeleteValue");
    c.ArgKey("hKey", Traced(hKey)).ArgW("lpValueName", lpValueName);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    return c.Result(store.DeleteValue(key, View(lpValueName)));
}

LONG RegDeleteKey(HKEY hKey, LPCWSTR lpSubKey) {
    ApiCall c("RegDeleteKey");
    c.ArgKey("hKey", Traced(hKey)).ArgW("lpSubKey", lpSubKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (!lpSubKey) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId base = 0, key = 0;
    if (LONG r = Resolve(hKey, &base)) return c.Result(r);
    if (LONG r = store.OpenKey(base, lpSubKey, &key)) return c.Result(r);
    return c.Result(store.DeleteKey(key));
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                  LPDWORD lpcchClass, void* lpftLastWriteTime) {
    ApiCall c("RegEnumKeyEx");
    c.ArgKey("hKey", Traced(hKey)).Arg("dwIndex", dwIndex);
    AddCount(c, "lpcchName", lpcchName);
    c.ArgPtr("lpReserved", lpReserved).ArgPtr("lpClass", lpClass);
    AddCount(c, "lpcchClass", lpcchClass);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (lpReserved || !lpName || !lpcchName) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    std::u16string name;
    std::uint64_t written = 0;
    if (LONG r = store.EnumKey(key, dwIndex, &name, &written)) return c.Result(r);
    bool want_class = lpClass && lpcchClass;
    if (name.size() >= *lpcchName || (want_class && *lpcchClass == 0)) return c.Result(ERROR_MORE_DATA);
    std::memcpy(lpName, name.data(), name.size() * sizeof(WCHAR));
    lpName[name.size()] = 0;
    *lpcchName = static_cast<DWORD>(name.size());
    if (want_class) {
        lpClass[0] = 0;
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) {
        DWORD parts[2] = {static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};  // FILETIME
        std::memcpy(lpftLastWriteTime, parts, sizeof parts);
    }
    c.ArgW("lpName", lpName).Out("*lpcchName", TraceValue::Int(static_cast<std::int64_t>(name.size())));
    return c.Result(ERROR_SUCCESS);
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    ApiCall c("RegEnumValue");
    c.ArgKey("hKey", Traced(hKey)).Arg("dwIndex", dwIndex);
    AddCount(c, "lpcchValueName", lpcchValueName);
    c.ArgPtr("lpReserved", lpReserved);
    AddCount(c, "lpcbData", lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    host::RegValue& v = t_value;
    if (LONG r = store.EnumValue(key, dwIndex, &v)) return c.Result(r);
    auto size = static_cast<DWORD>(v.data.size());
    LONG status = ERROR_SUCCESS;
    if (v.name.size() >= *lpcchValueName || (lpData && size > *lpcbData)) {
        status = ERROR_MORE_DATA;
    } else {
        std::memcpy(lpValueName, v.name.data(), v.name.size() * sizeof(WCHAR));
        lpValueName[v.name.size()] = 0;
        *lpcchValueName = static_cast<DWORD>(v.name.size());
        if (lpData && size) std::memcpy(lpData, v.data.data(), size);
        c.ArgW("lpValueName", lpValueName)
            .Out("*lpcchValueName", TraceValue::Int(static_cast<std::int64_t>(v.name.size())));
        if (lpData) c.ArgBytes("lpData", lpData, size);
    }
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    if (c.on()) c.Out("lpType", v.type).Out("*lpcbData", size);
    return c.Result(status);
}

LONG RegCloseKey(HKEY hKey) {
    ApiCall c("RegCloseKey");
    c.ArgKey("hKey", Traced(hKey)).ForgetName(hKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (RegistryStore::Root(hKey)) return c.Result(ERROR_SUCCESS);
    if (!hKey || !Table().Remove(hKey)) return c.Result(ERROR_INVALID_HANDLE);
    return c.Result(ERROR_SUCCESS);
}
