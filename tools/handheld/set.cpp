// `handheld set`: the hardware around the system, which it meets on its next tick.
#include <iostream>
#include <optional>
#include <string>

#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/power.h"

namespace handheld {
namespace {

const char kUsage[] = "usage: handheld set [--help] [ac=battery|online|unknown] [pin38=high|low|released]\n";

}  // namespace

int SetMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << kUsage
                  << "Sets the hardware of the device in PELORN_DEVICE; a running system sees it on its next\n"
                     "tick, a later start finds it as it was.\n"
                     "  ac=      the AC line GetSystemPowerStatusEx reports (a new device is on battery)\n"
                     "  pin38=   the level the hardware holds GPIO 38 at, or released to let the system's own\n"
                     "           output show (the receiver talks only while pin 38 is high)\n";
        return 0;
    }
    std::optional<BYTE> ac;
    bool drive = false;
    std::optional<bool> pin38;  // empty: released
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::size_t eq = a.find('=');
        std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
        std::string problem;
        if (name == "ac" && eq != std::string::npos) {
            if (ac) problem = "ac given twice";
            if (value == "battery")
                ac = AC_LINE_OFFLINE;
            else if (value == "online")
                ac = AC_LINE_ONLINE;
            else if (value == "unknown")
                ac = AC_LINE_UNKNOWN;
            else
                problem = "ac is battery, online or unknown, not '" + value + "'";
        } else if (name == "pin38" && eq != std::string::npos) {
            if (drive) problem = "pin38 given twice";
            drive = true;
            if (value == "high" || value == "low")
                pin38 = value == "high";
            else if (value != "released")
                problem = "pin38 is high, low or released, not '" + value + "'";
        } else {
            problem = "unknown setting '" + a + "'";
        }
        if (!problem.empty()) {
            std::cerr << "handheld set: " << problem << "\n" << kUsage;
            return 2;
        }
    }
    if (!ac && !drive) {
        std::cerr << kUsage;
        return 2;
    }
    try {
        OnDevice on;
        host::Handheld& device = on.device();
        if (ac) device.power().SetAcLine(*ac);
        if (drive) device.gpio().DrivePin38(pin38);
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld set: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
