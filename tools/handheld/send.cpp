// `handheld send`: the control messages another program sends to the window named by GPSHDL.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "frame/main_frame.h"
#include "handheld/reg_command.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"

namespace handheld {
namespace {

constexpr WPARAM kAboutCommand = 57664;  // ID_APP_ABOUT

struct Action {
    const char* name;
    UINT msg;
    WPARAM wparam;
    const char* summary;
};

const Action kActions[] = {
    {"show", WM_SHOW_TRAY_ICON, 0, "0x0401: show the tray icon and follow the receiver again"},
    {"hide", WM_HIDE_TRAY_ICON, 0, "0x0402: hide the tray icon and leave the receiver alone"},
    {"reset", WM_RESET_GPS, 0, "0x0403: send the reset sentence on COM1: (answers after about 5 s)"},
    {"close", WM_CLOSE, 0, "WM_CLOSE: close the system"},
    {"about", WM_COMMAND, kAboutCommand, "WM_COMMAND 57664: the About box (answers when it is closed)"},
};

const char kUsage[] = "usage: handheld send [--help] show|hide|reset|close|about\n";

std::string Handle(DWORD h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(h));
    return buf;
}

}  // namespace

int SendMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << kUsage
                  << "Sends a message to the system's window (GPSHDL in HKLM\\SOFTWARE\\Apps\\Tavro SW) on the\n"
                     "device in PELORN_DEVICE, waits for it to be handled and prints the handler's result.\n";
        for (const Action& a : kActions)
            std::printf("  %-6s %s\n", a.name, a.summary);
        std::cout << "Exits 1 when no system window is there to answer.\n";
        return 0;
    }
    const Action* action = nullptr;
    if (argc == 2)
        for (const Action& a : kActions)
            if (std::strcmp(argv[1], a.name) == 0) action = &a;
    if (!action) {
        if (argc > 1)
            std::cerr << "handheld send: "
                      << (argc > 2 ? "one message at a time" : "unknown message '" + std::string(argv[1]) + "'")
                      << "\n";
        std::cerr << kUsage;
        return 2;
    }
    try {
        OnDevice device;
        std::optional<DWORD> window = device.PublishedWindow();
        if (!window || *window == 0) {
            std::cerr << "handheld send: no Pelorn window on this device (GPSHDL is "
                      << (window ? "0: the system was closed" : "not set: the system never ran") << ")\n";
            return 1;
        }
        HWND h = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(*window));
        SetLastError(ERROR_SUCCESS);
        LRESULT result = ::SendMessage(h, action->msg, action->wparam, 0);
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
