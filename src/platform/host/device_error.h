// What the virtual handheld throws when a device folder cannot be used.
#pragma once

#include <stdexcept>

namespace host {

// A device folder that cannot be used: not creatable, damaged, or not a handheld's.
class DeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace host
