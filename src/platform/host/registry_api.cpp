// The Reg* functions of the seam, recorded through the traced calls' describers.
//
// Out-parameters of a failing call are left as they were, except that ERROR_MORE_DATA reports the
// type and the size needed, as Win32 does.
//
// Access masks are not checked: the handheld does not check them either.

#include <cstring>

#include "platform/host/handheld.h"
#include "platform/host/objects.h"
#include "platform/host/registry_store.h"
#include "platform/host/seam.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

namespace {

using host::RegistryStore;
using host::RegKeyId;

host::KeyTable& Table() { return host::Handheld::Current().keys(); }

RegistryStore& Store() { return host::Handheld::Current().registry(); }

LONG Resolve(HKEY h, RegKeyId* key) {
    if (RegKeyId root = RegistryStore::Root(h)) {
        *key = root;
        return ERROR_SUCCESS;
    }
    if (h && Table().Find(h, key)) return ERROR_SUCCESS;
    return ERROR_INVALID_HANDLE;
}

std::u16string_view View(const WCHAR* s) { return s ? std::u16string_view(s) : std::u16string_view(); }

}  // namespace

LONG RegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    tracing::RegOpenKeyExCall c(hKey, lpSubKey, ulOptions, samDesired);
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
    if (c.on()) c.Opened(result, hKey, lpSubKey);
    return c.Result(ERROR_SUCCESS);
}

LONG RegCreateKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
    tracing::RegCreateKeyExCall c(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes);
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
    if (c.on()) c.Created(result, disposition, hKey, lpSubKey);
    return c.Result(ERROR_SUCCESS);
}

LONG RegQueryValueEx(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                     LPDWORD lpcbData) {
    tracing::RegQueryValueExCall c(hKey, lpValueName, lpReserved, lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if ((lpData && !lpcbData) || lpReserved) return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    host::RegValue v;
    if (LONG r = store.GetValue(key, View(lpValueName), &v)) return c.Result(r);
    auto size = static_cast<DWORD>(v.data.size());
    LONG status = ERROR_SUCCESS;
    if (lpData) {
        if (size > *lpcbData) {
            status = ERROR_MORE_DATA;
        } else {
            if (size) std::memcpy(lpData, v.data.data(), size);
            c.Data(lpData, size);
            const host::Handheld& device = host::Handheld::Current();
            if (device.value_reads() && !device.quiet()) device.value_reads()(View(lpValueName), lpData, size);
        }
    }
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    c.TypeAndSize(status, v.type, size);
    return c.Result(status);
}

LONG RegSetValueEx(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    tracing::RegSetValueExCall c(hKey, lpValueName, Reserved, dwType, lpData, cbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (!lpData && cbData) return c.Result(ERROR_NOACCESS);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    return c.Result(store.SetValue(key, View(lpValueName), dwType, lpData, cbData));
}

LONG RegDeleteValue(HKEY hKey, LPCWSTR lpValueName) {
    tracing::RegDeleteValueCall c(hKey, lpValueName);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    return c.Result(store.DeleteValue(key, View(lpValueName)));
}

LONG RegDeleteKey(HKEY hKey, LPCWSTR lpSubKey) {
    tracing::RegDeleteKeyCall c(hKey, lpSubKey);
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
    tracing::RegEnumKeyExCall c(hKey, dwIndex, lpcchName, lpReserved, lpClass, lpcchClass);
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
    c.Name(lpName, name.size());
    return c.Result(ERROR_SUCCESS);
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                  LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    tracing::RegEnumValueCall c(hKey, dwIndex, lpcchValueName, lpReserved, lpcbData);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return c.Result(ERROR_INVALID_PARAMETER);
    RegistryStore& store = Store();
    RegKeyId key = 0;
    if (LONG r = Resolve(hKey, &key)) return c.Result(r);
    host::RegValue v;
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
        c.Name(lpValueName, v.name.size());
        if (lpData) c.Data(lpData, size);
    }
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    c.TypeAndSize(status, v.type, size);
    return c.Result(status);
}

LONG RegCloseKey(HKEY hKey) {
    tracing::RegCloseKeyCall c(hKey);
    if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
    if (RegistryStore::Root(hKey)) return c.Result(ERROR_SUCCESS);
    if (!hKey || !Table().Remove(hKey)) return c.Result(ERROR_INVALID_HANDLE);
    return c.Result(ERROR_SUCCESS);
}
