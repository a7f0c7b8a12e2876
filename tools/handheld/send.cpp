// `handheld send`: the control messages another program sends to the window named by GPSHDL.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "common/control.h"
#include "handheld/reg_command.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"

namespace handheld {
namespace {

std::string Usage() { return "usage: handheld send [--help] " + tools::ControlMessageNames() + "\n"; }

std::string Handle(DWORD h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(h));
    return buf;
}

}  // namespace

int SendMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << Usage()
                  << "Sends a message to the system's window (GPSHDL in HKLM\\SOFTWARE\\Apps\\Tavro SW) on the\n"
                     "device in PELORN_DEVICE, waits for it to be handled and prints the handler's result.\n";
        for (const tools::ControlMessage& m : tools::ControlMessages())
            std::printf("  %-6s %s: %s\n", m.name, tools::Spelled(m).c_str(), m.summary);
        std::cout << "Exits 1 when no system window is there to answer.\n";
        return 0;
    }
    const tools::ControlMessage* message = argc == 2 ? tools::FindControlMessage(argv[1]) : nullptr;
    if (!message) {
        if (argc > 1)
            std::cerr << "handheld send: "
                      << (argc > 2 ? "one message at a time" : "unknown message '" + std::string(argv[1]) + "'")
                      << "\n";
        std::cerr << Usage();
        return 2;
    }
    try {
        OnDevice on;
        std::optional<DWORD> window = tools::PublishedWindow(host::Handheld::Current());
        if (!window || *window == 0) {
            std::cerr << "handheld send: no Pelorn window on this device (GPSHDL is "
                      << (window ? "0: the system was closed" : "not set: the system never ran") << ")\n";
            return 1;
        }
        SetLastError(ERROR_SUCCESS);
        LRESULT result = ::SendMessage(tools::WindowOf(*window), message->msg, message->wparam, 0);
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_WINDOW_HANDLE) {
            std::cerr << "handheld send: no Pelorn window on this device: window " << Handle(*window)
                      << " named by GPSHDL does not exist (error 1400)\n";
            return 1;
        }
        if (error != ERROR_SUCCESS) {
            std::cerr << "handheld send: window " << Handle(*window) << " refused the message (error " << error
                      << ")\n";
            return 1;
        }
        std::cout << result << "\n";
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld send: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
