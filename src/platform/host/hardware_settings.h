// The handheld's own hardware settings, kept in its registry under HKLM\Software\Handheld so that
// every process on the device sees them: what a tool sets (the AC line, the hardware holding pin
// 38, a sysfs device to follow) the running system meets on its next tick, and a second start
// finds them as they were. Read and written through the store: these are not the system's calls,
// so they neither show in the trace nor take its injected faults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/host/registry_store.h"

namespace host {

// A DWORD value of the device's registry, read without the trace; empty when there is none.
std::optional<DWORD> StoredDword(RegistryStore& registry, HKEY root, std::u16string_view path,
                                 std::u16string_view name);

// An empty value removes the setting.
void SetHardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name,
                      std::optional<DWORD> value);

// One setting of HKLM\Software\Handheld\<group>, as a device last read it. The devices ask on every tick: it is read
// again only when the registry's version has moved (or cannot be told), so a change by any process still shows at the
// next turn, as any read would.
class HardwareSetting {
public:
    HardwareSetting(std::u16string_view group, std::u16string_view name) : group_(group), name_(name) {}
    // Empty when the setting is missing or of another type.
    std::optional<DWORD> Dword(RegistryStore& registry);
    // Null when the setting is missing or of another type.
    const std::u16string* Text(RegistryStore& registry);

private:
    void Refresh(RegistryStore& registry);

    std::u16string_view group_, name_;
    std::optional<std::uint64_t> read_at_;  // the registry's version when last read
    std::optional<DWORD> dword_;
    std::optional<std::u16string> text_;
};

}  // namespace host
