// `handheld send`: the control messages another program sends to the window named by GPSHDL.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "common/control.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"

namespace handheld {
namespace {

std::string Usage() {
    return "usage: handheld send [--help] " + tools::ControlMessageNames() + " | MSG [WPARAM [LPARAM]]\n";
}

std::string Hex(unsigned long long v, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, v);
    return buf;
}

std::string Handle(DWORD h) { return Hex(h, 8); }

// A number as C writes it: decimal, or hex after 0x.
std::optional<unsigned long long> Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (*text == '-' || end == text || *end || errno) return std::nullopt;
    return v;
}

// Why the window's owner refused a message, for the sender.
std::string Refusal(DWORD error) {
    if (error == ERROR_ACCESS_DENIED)
        return "only the window manager sends it; other programs may send WM_NULL, WM_CLOSE, WM_COMMAND and "
               "messages from WM_USER (0x0400) to 0xFFFF (error 5)";
    if (error == ERROR_BUSY) return "it has too many senders waiting already (error 170)";
    if (error == ERROR_NOT_ENOUGH_QUOTA) return "its queue is full (error 1816)";
    return "error " + std::to_string(error);
}

}  // namespace

int SendMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << Usage()
                  << "Sends a message to the system's window (GPSHDL in HKLM\\SOFTWARE\\Apps\\Tavro SW) on the\n"
                     "device in PELORN_DEVICE, waits for it to be handled and prints the handler's result.\n";
        for (const tools::ControlMessage& m : tools::ControlMessages())
            std::printf("  %-6s %s: %s\n", m.name, tools::Spelled(m).c_str(), m.summary);
        std::cout << "  MSG [WPARAM [LPARAM]]  any message by number (decimal or 0x hex), as another program\n"
                     "         could send it; the window refuses those only the window manager sends\n"
                     "Exits 1 when no system window is there to answer, or it refuses the message.\n";
        return 0;
    }
    tools::ControlMessage raw{"", 0, 0, ""};
    LPARAM lparam = 0;
    const tools::ControlMessage* message = argc == 2 ? tools::FindControlMessage(argv[1]) : nullptr;
    // A message by number, as any program could send it.
    if (!message && argc >= 2 && argc <= 4 && std::isdigit(static_cast<unsigned char>(argv[1][0]))) {
        std::optional<unsigned long long> msg = Number(argv[1]);
        std::optional<unsigned long long> wp = argc > 2 ? Number(argv[2]) : 0ull;
        std::optional<unsigned long long> lp = argc > 3 ? Number(argv[3]) : 0ull;
        if (!msg || *msg > 0xFFFFFFFFull || !wp || !lp) {
            std::cerr << "handheld send: MSG, WPARAM and LPARAM are numbers (decimal or 0x hex)\n" << Usage();
            return 2;
        }
        raw = tools::ControlMessage{"", static_cast<UINT>(*msg), static_cast<WPARAM>(*wp), ""};
        lparam = static_cast<LPARAM>(*lp);
        message = &raw;
    }
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
        LRESULT result = ::SendMessage(tools::WindowOf(*window), message->msg, message->wparam, lparam);
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_WINDOW_HANDLE) {
            std::cerr << "handheld send: no Pelorn window on this device: window " << Handle(*window)
                      << " named by GPSHDL does not exist (error 1400)\n";
            return 1;
        }
        if (error != ERROR_SUCCESS) {
            std::cerr << "handheld send: window " << Handle(*window) << " refused message " << Hex(message->msg, 4)
                      << ": " << Refusal(error) << "\n";
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
