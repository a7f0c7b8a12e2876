// The calls a day's checker watches and the invariants it holds the system to, in words.
#include "handheld/simulate/day_checker.h"

#include "platform/host/trace.h"

namespace handheld {

const std::vector<std::string>& CheckedCalls() {
    static const std::vector<std::string> calls = [] {
        std::vector<std::string> c(host::Faults::Failable().begin(), host::Faults::Failable().end());
        // Sleep too: a system that sleeps on and on holds the device without any other call.
        c.insert(c.end(), {"GpioRead", "GpioWrite", "DestroyWindow", "Sleep"});
        return c;
    }();
    return calls;
}

const std::vector<Invariant>& Invariants() {
    static const std::vector<Invariant> list = {
        {"menu", "exactly one menu item is checked, and it is the item of the mode the pins were last switched to"},
        {"follow",
         "after a tick of an enabled system (with nothing served inside its boxes) the menu checks the item of "
         "pin 38's level (GPS On when high)"},
        {"icon",
         "after a tick of an enabled system the tray shows 132 when pin 38 reads low, else 130 and 131 in turn "
         "(130 on the tick that switched on); a disabled system's ticks leave icon and pin alone"},
        {"hidden", "after hide the tray holds no icon of the system until show; after show it holds one"},
        {"refresh",
         "a tick refreshes the time-outs exactly when due (first tick, GPS state changed, State_Chg seen, a refresh "
         "left pending); then BatteryTimeout and BattSuspendTimeout equal the profile of the GPS state (0 where its "
         "enable is 0), and BackLightChangeEvent then PowerManager/ReloadActivityTimeouts are set once each"},
        {"state_chg", "a State_Chg seen nonzero is cleared; one set by another program is seen by the next tick"},
        {"brightness",
         "each tick sends {12, level}: GPS_Slide's value when pin 38 reads high, the system is enabled and the AC "
         "line reads battery (a failed status query counts as battery), STD_Slide's otherwise"},
        {"steady", "a tick writes only a State_Chg it clears, the two time-outs of a refresh, and missing values as 0"},
        {"boxes",
         "no two tray-failure boxes of monitor ticks are open at once, and a tray failure of show or hide is "
         "shown in a box"},
        {"gpshdl", "GPSHDL holds what the system last wrote there: its live window, or 0 at a close; never garbage"},
        {"registry", "the registry file passes SQLite's integrity check at the end of the day"},
        {"clock", "the virtual clock always moves on: the handheld never deadlocks"},
    };
    return list;
}

}  // namespace handheld
