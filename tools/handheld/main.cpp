// handheld: the virtual handheld's command line, its commands listed here.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/device_choice.h"
#include "handheld/commands.h"
#include "handheld/play/play.h"
#include "handheld/reg/reg.h"
#include "handheld/simulate/simulate.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);  // argv[0] is the subcommand's name
};

const Command kCommands[] = {
    {"play", "run a scenario script on a fresh temporary device", handheld::PlayMain},
    {"steps", "print a scenario's steps as parsed, for another platform's player", handheld::StepsMain},
    {"reg", "query or change the device's registry, as reg.exe does", handheld::RegMain},
    {"send", "send show, hide, reset, close or about to the system's window", handheld::SendMain},
    {"set", "set the AC line or the hardware's hold on pin 38", handheld::SetMain},
    {"ports", "map a serial port to a terminal or the simulated receiver", handheld::PortsMain},
    {"status", "what the device shows, in words or as JSON (--json)", handheld::StatusMain},
    {"profile", "the GPS and STD power profiles by their registry names, and set them", handheld::ProfileMain},
    {"firmware", "the receiver's firmware version as recorded, or read on COM1 now", handheld::FirmwareMain},
    {"check", "read the whole registry file and say whether it is sound", handheld::CheckMain},
    {"receiver", "a receiver on COM1 playing a recorded NMEA log to the running system", handheld::ReceiverMain},
    {"simulate", "random days from seeds on temporary devices, invariants checked", handheld::SimulateMain},
};

// The steps from one word to the other, letter by letter.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command a mistyped name most likely meant: one it begins, or one a slip or two away.
const Command* Meant(const std::string& name) {
    const Command* best = nullptr;
    std::size_t best_distance = 3;
    for (const Command& c : kCommands) {
        std::string command = c.name;
        std::size_t d = name.size() >= 2 && command.compare(0, name.size(), name) == 0 ? 1 : Distance(name, command);
        if (d < best_distance) best = &c, best_distance = d;
    }
    return best;
}

void Usage(FILE* out) {
    std::fputs(
        "usage: handheld [--help] [--version] [--device DIR [--new]] COMMAND [ARGS...]\n"
        "The virtual handheld's command line. All but play act on the device in DIR, or in\n"
        "PELORN_DEVICE, or the default one, as another program on it. Options:\n",
        out);
    std::fputs(tools::kDeviceOptionsHelp, out);
    std::fputs("Commands:\n", out);
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fputs("'handheld COMMAND --help' describes a command.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    for (; i < argc; ++i) {
        try {
            if (!tools::TakeDeviceOption(argc, argv, &i, &tools::ChosenDevice())) break;
        } catch (const std::invalid_argument& e) {
            std::fprintf(stderr, "handheld: %s\n", e.what());
            Usage(stderr);
            return 2;
        }
    }
    if (i >= argc) {
        Usage(stderr);
        return 2;
    }
    const char* name = argv[i];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 || std::strcmp(name, "help") == 0) {
        Usage(stdout);
        return 0;
    }
    if (std::strcmp(name, "--version") == 0) {
        std::printf("handheld %s\n", PELORN_VERSION);
        return 0;
    }
    if (!tools::ChosenDevice().folder.empty() && std::strcmp(name, "play") == 0) {
        std::fputs("handheld: play runs on a fresh temporary device, not on --device\n", stderr);
        Usage(stderr);
        return 2;
    }
    for (const Command& c : kCommands)
        if (std::strcmp(name, c.name) == 0) return c.run(argc - i, argv + i);
    std::fprintf(stderr, "handheld: unknown command '%s'", name);
    if (const Command* meant = Meant(name)) std::fprintf(stderr, "; did you mean '%s'?", meant->name);
    std::fputc('\n', stderr);
    Usage(stderr);
    return 2;
}
