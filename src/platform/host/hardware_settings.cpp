#include "platform/host/hardware_settings.h"

#include "platform/host/device_error.h"
#include "platform/host/reg_data.h"

namespace host {
namespace {

// The path of a group's key.
std::u16string GroupPath(std::u16string_view group) { return std::u16string(u"Software\\Handheld\\").append(group); }

std::optional<RegValue> Stored(RegistryStore& registry, HKEY root, std::u16string_view path, std::u16string_view name) {
    RegKeyId key = 0;
    RegValue value;
    if (registry.OpenKey(RegistryStore::Root(root), path, &key) != ERROR_SUCCESS ||
        registry.GetValue(key, name, &value) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<DWORD> StoredDword(RegistryStore& registry, HKEY root, std::u16string_view path,
                                 std::u16string_view name) {
    std::optional<RegValue> value = Stored(registry, root, path, name);
    if (!value || value->type != REG_DWORD) return std::nullopt;
    return DwordOf(value->data);
}

void SetHardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name,
                      std::optional<DWORD> value) {
    RegKeyId key = 0;
    LONG r = ERROR_SUCCESS;
    if (!value) {
        r = registry.OpenKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), GroupPath(group), &key);
        if (r == ERROR_SUCCESS) r = registry.DeleteValue(key, name);
        if (r == ERROR_FILE_NOT_FOUND) r = ERROR_SUCCESS;
    } else {
        bool created = false;
        std::vector<BYTE> data = DwordData(*value);
        r = registry.CreateKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), GroupPath(group), &key, &created);
        if (r == ERROR_SUCCESS) r = registry.SetValue(key, name, REG_DWORD, data.data(), data.size());
    }
    if (r == ERROR_SUCCESS) return;
    std::string holder = r == ERROR_BUSY ? registry.WriteLockHolder() : "";
    throw DeviceError("cannot keep a hardware setting in " + registry.file() +
                      (r != ERROR_BUSY  ? ""
                       : holder.empty() ? ": it is busy"
                                        : ": it is busy, " + holder + " holds it"));
}

void HardwareSetting::Refresh(RegistryStore& registry) {
    std::optional<std::uint64_t> version = registry.Version();
    if (version && version == read_at_) return;
    std::optional<RegValue> value = Stored(registry, HKEY_LOCAL_MACHINE, GroupPath(group_), name_);
    dword_.reset();
    text_.reset();
    if (value && value->type == REG_DWORD) dword_ = DwordOf(value->data);
    if (value && value->type == REG_SZ) text_ = StringOf(value->data);
    read_at_ = version;
}

std::optional<DWORD> HardwareSetting::Dword(RegistryStore& registry) {
    Refresh(registry);
    return dword_;
}

const std::u16string* HardwareSetting::Text(RegistryStore& registry) {
    Refresh(registry);
    return text_ ? &*text_ : nullptr;
}

}  // namespace host
