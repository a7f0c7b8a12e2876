// `handheld status`: what a person could see or measure on the device, as one JSON object.
#include <iostream>
#include <string>

#include "common/status.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"

namespace handheld {

int StatusMain(int argc, char** argv) {
    const char usage[] = "usage: handheld status [--help]\n";
    if (AsksForHelp(argc, argv)) {
        std::cout << usage
                  << "Prints one JSON object describing the device in PELORN_DEVICE: whether the system runs,\n"
                     "its window (GPSHDL), the tray icon shown (resource id or null), the menu's items and\n"
                     "check marks, pins 21 and 38, the AC line, the backlight level, BatteryTimeout and\n"
                     "BattSuspendTimeout as written, how often each named event was set, and the message\n"
                     "boxes open now. What only the running system knows is null while it is not running.\n";
        return 0;
    }
    if (argc > 1) {
        std::cerr << "handheld status: unexpected argument '" << argv[1] << "'\n" << usage;
        return 2;
    }
    try {
        OnDevice on;
        std::cout << tools::DeviceStatus(host::Handheld::Current()) << "\n";
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld status: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
