// Which device a program acts on: --device DIR, else PELORN_DEVICE, else the default device.
//
// The default device is made on first use. A device named by --device or PELORN_DEVICE whose
// folder does not exist is made only with --new: a mistyped name is an error naming the path,
// never a second device.
#pragma once

#include <string>

namespace tools {

struct DeviceChoice {
    std::string folder;  // from --device; empty: PELORN_DEVICE or the default
    bool make = false;   // --new
};

// Takes --device DIR, --device=DIR or --new at argv[*i] (moving *i past an operand). False when
// argv[*i] is none of them; throws std::invalid_argument when --device has no operand.
bool TakeDeviceOption(int argc, char** argv, int* i, DeviceChoice* choice);

// The folder to boot: checked as above. Throws host::DeviceError naming the path.
std::string DeviceFolderToBoot(const DeviceChoice& choice);

// The choice of this process, for the commands that switch the device on.
DeviceChoice& ChosenDevice();

// The lines of --help that describe the options above.
extern const char kDeviceOptionsHelp[];

}  // namespace tools
