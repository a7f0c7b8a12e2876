// The handheld's own hardware settings, kept in its registry under HKLM\Software\Handheld so that
// every process on the device sees them: what a tool sets (the AC line, the hardware holding pin
// 38) the running system meets on its next tick, and a second start finds them as they were.
// Read and written through the store: these are not the system's calls.
#pragma once

#include <optional>

#include "platform/host/registry_store.h"

namespace host {

// A DWORD value of the device's registry, read without the trace; empty when there is none.
std::optional<DWORD> StoredDword(RegistryStore& registry, HKEY root, std::u16string_view path,
                                 std::u16string_view name);

std::optional<DWORD> HardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name);
// An empty value removes the setting.
void SetHardwareDword(RegistryStore& registry, std::u16string_view group, std::u16string_view name,
                      std::optional<DWORD> value);

}  // namespace host
