// `handheld reg`: reg.exe's operations on the device's registry, as another program on it.
#include <iostream>
#include <string>
#include <vector>

#include "handheld/device_session.h"
#include "handheld/reg_command.h"
#include "platform/host/handheld.h"

namespace handheld {
namespace {

void Usage(std::ostream& out) {
    out << "usage: handheld reg add|delete|query|export|import ...\n";
    std::string lines = RegUsage();
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t end = lines.find('\n', i);
        out << "  handheld " << lines.substr(i, end - i) << "\n";
        i = end + 1;
    }
}

}  // namespace

int RegMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h" || a == "/?") {
            Usage(std::cout);
            std::cout << "Acts on the registry of the device in PELORN_DEVICE (or the default one), which a\n"
                         "running system sees at once. Data types REG_SZ, REG_DWORD and REG_BINARY (and the\n"
                         "rest of reg.exe's); .reg files are written as UTF-16LE, read as UTF-16 or UTF-8.\n"
                         "Exits 0 when done, 1 when the operation failed, 2 on bad arguments.\n";
            return 0;
        }
    RegCommand command;
    try {
        command = ParseRegCommand(args);
    } catch (const RegSyntaxError& e) {
        std::cerr << "handheld reg: " << e.what() << "\n";
        Usage(std::cerr);
        return 2;
    }
    try {
        OnDevice device;
        RegOutcome outcome = RunRegCommand(command);
        std::cout << outcome.out << std::flush;
        std::cerr << outcome.err;
        return outcome.exit_code;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld reg: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
