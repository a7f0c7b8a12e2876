// The device a command of the command line acts on, switched on for that one command.
#include "handheld/device_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/device_choice.h"
#include "platform/host/handheld.h"

namespace handheld {

namespace {

host::Handheld& Boot() {
    // A folder we may not enter would otherwise look like a device yet to be made.
    std::string folder = tools::DeviceFolderToBoot(tools::ChosenDevice());
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
        throw host::DeviceError("no access to the device folder " + folder + " (" + std::strerror(errno) +
                                "): it is another user's");
    host::BootOptions options;
    options.folder = folder;
    options.virtual_clock = false;  // beside a system running in real time
    return host::Handheld::Boot(options);
}

}  // namespace

OnDevice::OnDevice() : device_(Boot()) {}

OnDevice::~OnDevice() { host::Handheld::PowerOff(); }

}  // namespace handheld
