// Values and errors as reg.exe prints them.
#pragma once

#include <string>
#include <vector>

#include "platform/win32api.h"

namespace handheld::reg {

// The system's message for an error, as reg.exe prints it after "ERROR: ".
std::string ErrorText(LONG error);

// A value's line in reg query's listing.
std::string ValueLine(const std::u16string& name, DWORD type, const std::vector<BYTE>& data);

}  // namespace handheld::reg
