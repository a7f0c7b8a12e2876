// `handheld ports`: which serial device stands behind each "COMn:".
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"

namespace handheld {
namespace {

const char kUsage[] = "usage: handheld ports [--help] [COMn PATH|sim|none]...\n";

// COM0 .. COM9, the ports the platform names; -1 for anything else.
int PortNumber(std::string name) {
    if (!name.empty() && name.back() == ':') name.pop_back();
    if (name.size() != 4) return -1;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return -1;
    return std::isdigit(static_cast<unsigned char>(name[3])) ? name[3] - '0' : -1;
}

}  // namespace

int PortsMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << kUsage
                  << "Maps serial ports of the device in PELORN_DEVICE to a terminal (a device path such as\n"
                     "/dev/ttyUSB0 or /dev/pts/3), to the built-in simulated receiver (sim), or to nothing\n"
                     "(none: the port does not exist). Without arguments, lists the mapped ports. The\n"
                     "system meets a new mapping when it next opens the port. A port mapped by a program\n"
                     "that keeps the terminal (handheld receiver) exists only while that program runs.\n";
        return 0;
    }
    std::vector<std::pair<int, std::string>> changes;
    for (int i = 1; i < argc; i += 2) {
        int port = PortNumber(argv[i]);
        std::string problem;
        if (port < 0)
            problem = std::string("'") + argv[i] + "' is no port (COM0 to COM9)";
        else if (i + 1 >= argc)
            problem = std::string(argv[i]) + " needs PATH, sim or none";
        else if (argv[i + 1][0] != '/' && std::strcmp(argv[i + 1], "sim") != 0 && std::strcmp(argv[i + 1], "none") != 0)
            problem = std::string("'") + argv[i + 1] + "' is neither an absolute path, sim nor none";
        if (!problem.empty()) {
            std::cerr << "handheld ports: " << problem << "\n" << kUsage;
            return 2;
        }
        changes.emplace_back(port, argv[i + 1]);
    }
    try {
        OnDevice on;
        host::SerialPorts& serial = on.device().serial();
        for (const auto& [port, path] : changes) {
            if (path == "none") {
                serial.Unmap(port);
                continue;
            }
            serial.Map(port, path);
            if (path != "sim" && access(path.c_str(), F_OK) != 0)
                std::cerr << "handheld ports: note: " << path << " does not exist now; COM" << port
                          << ": opens only once it does\n";
        }
        if (changes.empty())
            for (int port = 0; port <= 9; ++port) {
                std::string path = serial.Mapping(port);
                long owner = serial.Owner(port);
                if (!path.empty())
                    std::cout << "COM" << port << " " << path
                              << (owner ? " (while process " + std::to_string(owner) + " runs)" : "") << "\n";
                else if (owner)
                    std::cout << "COM" << port << " none (process " << owner
                              << ", which kept its terminal, has ended)\n";
            }
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld ports: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
