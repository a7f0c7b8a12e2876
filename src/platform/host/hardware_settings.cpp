#include "platform/host/hardware_settings.h"

#include "platform/host/handheld.h"

namespace host {
namespace {

std::u16string GroupPath(std::u16string_view group) { return u"Software\\Handheld\\" + std::u16string(group); }

}  // namespace

std::optional<DWORD> StoredDword(RegistryStore& registry, HKEY root, std::u16string_view path,
                                 std::u16string_view name) {
    RegKeyId key = 0;
    RegValue value;
    if (registry.OpenKey(RegistryStore::Root(root), path, &key) != ERROR_SUCCESS ||
        registry.GetValue(key, name, &value) != ERROR_SUCCESS || value.type != REG_DWORD || value.data.size() != 4)
        return std::nullopt;
    return static_cast<DWORD>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                              static_cast<DWORD>(value.data[3]) << 24);
}

std::optional<DWORD> HardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name) {
    return StoredDword(registry, HKEY_LOCAL_MACHINE, GroupPath(group), name);
}

void SetHardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name,
                      std::optional<DWORD> value) {
    RegKeyId key = 0;
    if (!value) {
        if (registry.OpenKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), GroupPath(group), &key) == ERROR_SUCCESS)
            registry.DeleteValue(key, name);
        return;
    }
    bool created = false;
    if (registry.CreateKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), GroupPath(group), &key, &created) != ERROR_SUCCESS)
        throw DeviceError("cannot keep a hardware setting in " + registry.file());
    BYTE data[4] = {static_cast<BYTE>(*value), static_cast<BYTE>(*value >> 8), static_cast<BYTE>(*value >> 16),
                    static_cast<BYTE>(*value >> 24)};
    if (registry.SetValue(key, name, REG_DWORD, data, sizeof data) != ERROR_SUCCESS)
        throw DeviceError("cannot keep a hardware setting in " + registry.file());
}

}  // namespace host
