// The handheld's own hardware settings, kept in its registry under HKLM\Software\Handheld so that
// every process on the device sees them: what a tool sets (the AC line, the hardware holding pin
// 38, a sysfs device to follow) the running system meets on its next tick, and a second start
// finds them as they were. Read and written through the store: these are not the system's calls,
// so they neither show in the trace nor take its injected faults.
#pragma once

#include <optional>
#include <string>

#include "platform/host/registry_store.h"

namespace host {

// A DWORD value of the device's registry, read without the trace; empty when there is none.
std::optional<DWORD> StoredDword(RegistryStore& registry, HKEY root, std::u16string_view path,
                                 std::u16string_view name);

// A setting of HKLM\Software\Handheld\<group>; empty when it is missing or of another type.
std::optional<DWORD> HardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name);
std::optional<std::u16string> HardwareText(RegistryStore& registry, std::u16string_view group,
                                           std::u16string_view name);
// An empty value removes the setting.
void SetHardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name,
                      std::optional<DWORD> value);

}  // namespace host
