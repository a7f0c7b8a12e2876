// Files of the Linux machine under the handheld: a sysfs backlight and power supply.
#pragma once

#include <optional>
#include <string>

namespace host {

// A sysfs setting as a folder path: a bare name is taken under `class_folder`.
std::string SysfsFolder(const std::u16string& setting, const char* class_folder);
// The number a sysfs attribute file holds; nothing when it cannot be read or is not a number.
std::optional<long long> ReadSysfsNumber(const std::string& path);

}  // namespace host
