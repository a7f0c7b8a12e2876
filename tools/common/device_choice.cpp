#include "common/device_choice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/host/handheld.h"

namespace tools {

const char kDeviceOptionsHelp[] =
    "  --device DIR  the device in folder DIR; else the one in PELORN_DEVICE; else the\n"
    "                default one, $XDG_STATE_HOME/pelorn (~/.local/state/pelorn), made on\n"
    "                first use. A named device's folder must exist, unless --new\n"
    "  --new         the device named is a new one: make its folder if there is none\n"
    "  --version     print the version and exit\n";

bool TakeDeviceOption(int argc, char** argv, int* i, DeviceChoice* choice) {
    const char* arg = argv[*i];
    if (std::strcmp(arg, "--new") == 0) {
        choice->make = true;
        return true;
    }
    if (std::strncmp(arg, "--device=", 9) == 0) {
        choice->folder = arg + 9;
    } else if (std::strcmp(arg, "--device") == 0) {
        if (*i + 1 >= argc) throw std::invalid_argument("--device needs a folder");
        choice->folder = argv[++*i];
    } else {
        return false;
    }
    if (choice->folder.empty()) throw std::invalid_argument("--device needs a folder");
    return true;
}

std::string DeviceFolderToBoot(const DeviceChoice& choice) {
    const char* env = std::getenv("PELORN_DEVICE");
    const char* named_by = !choice.folder.empty() ? "--device" : env && *env ? "PELORN_DEVICE" : nullptr;
    std::string folder = !choice.folder.empty() ? choice.folder : host::DefaultDeviceFolder();
    struct stat st {};
    if (named_by && !choice.make && stat(folder.c_str(), &st) != 0 && errno == ENOENT)
        throw host::DeviceError("there is no device folder " + folder + " (named by " + named_by +
                                "); to make a new device there, add --new");
    return folder;
}

DeviceChoice& ChosenDevice() {
    static DeviceChoice choice;
    return choice;
}

}  // namespace tools
