// handheld: the virtual handheld's command line. One subcommand per .cpp, listed here.
#include <cstdio>
#include <cstring>

#include "handheld/play.h"

namespace handheld {
int RegMain(int argc, char** argv);     // reg.cpp
int SendMain(int argc, char** argv);    // send.cpp
int SetMain(int argc, char** argv);     // set.cpp
int PortsMain(int argc, char** argv);   // ports.cpp
int StatusMain(int argc, char** argv);  // status.cpp
int CheckMain(int argc, char** argv);   // check.cpp
}  // namespace handheld

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(int argc, char** argv);  // argv[0] is the subcommand's name
};

const Command kCommands[] = {
    {"play", "run a scenario script on a fresh temporary device", handheld::PlayCommand},
    {"steps", "print a scenario's steps as parsed, for another platform's player", handheld::StepsCommand},
    {"reg", "query or change the device's registry, as reg.exe does", handheld::RegMain},
    {"send", "send show, hide, reset, close or about to the system's window", handheld::SendMain},
    {"set", "set the AC line or the hardware's hold on pin 38", handheld::SetMain},
    {"ports", "map a serial port to a terminal or the simulated receiver", handheld::PortsMain},
    {"status", "what the device shows, as one JSON object", handheld::StatusMain},
    {"check", "read the whole registry file and say whether it is sound", handheld::CheckMain},
};

void Usage(FILE* out) {
    std::fputs(
        "usage: handheld [--help] COMMAND [ARGS...]\n"
        "The virtual handheld's command line. All but play act on the device in PELORN_DEVICE\n"
        "(default: $XDG_STATE_HOME/pelorn) as another program on it. Commands:\n",
        out);
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fputs("'handheld COMMAND --help' describes a command.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "help") == 0) {
        Usage(stdout);
        return 0;
    }
    for (const Command& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "handheld: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
