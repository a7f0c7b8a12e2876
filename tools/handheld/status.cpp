// `handheld status`: what a person could see or measure on the device, in words or as JSON.
#include <cstring>
#include <iostream>
#include <string>

#include "common/status.h"
#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"

namespace handheld {

int StatusMain(int argc, char** argv) {
    const char usage[] = "usage: handheld status [--help] [--json]\n";
    if (AsksForHelp(argc, argv)) {
        std::cout << usage
                  << "Describes the device in PELORN_DEVICE: whether Pelorn runs (running, starting, busy or\n"
                     "not running, and its process), the receiver (pins 21 and 38), the profile in force and\n"
                     "why it holds (pin 38, or which time-outs written match neither profile), both profiles'\n"
                     "values, the AC line, the backlight level and the value it comes from (GPS_Slide or\n"
                     "STD_Slide), BatteryTimeout and BattSuspendTimeout as written (0 is never), State_Chg, the\n"
                     "firmware version recorded at the first run, COM1, the tray icon and what it means, and\n"
                     "the message boxes open now; one fact a line.\n"
                     "--json prints it as one JSON object, for programs: also the window (GPSHDL), the menu's\n"
                     "items and check marks and how often each named event was set. What only the running\n"
                     "system knows is null while it is not running or does not answer.\n"
                     "A Pelorn whose loop is held (a reset holds it 5 s, the first run's firmware read up to\n"
                     "5 s) answers late: the wait is told on standard error, and after 6 s what the device\n"
                     "folder shows is printed instead.\n";
        return 0;
    }
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0 && !json) {
            json = true;
            continue;
        }
        std::cerr << "handheld status: unexpected argument '" << argv[i] << "'\n" << usage;
        return 2;
    }
    try {
        OnDevice on;
        nlohmann::ordered_json status = tools::DeviceStatus(
            on.device(), [](const std::string& note) { std::cerr << "handheld status: " << note << "\n"; });
        if (json)
            std::cout << status.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        else
            std::cout << tools::StatusSummary(status);
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld status: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
