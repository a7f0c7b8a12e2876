// `handheld simulate`: random days of the handheld from seeds, the invariants checked between
// every two turns, and each failure shrunk to a short script that still breaks the invariant.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "handheld/simulate/day_checker.h"
#include "handheld/simulate/day_generator.h"

namespace handheld {

struct DayResult {
    std::optional<Violation> violation;
    std::optional<std::string> script_error;  // a replayed script that cannot be carried out
    std::vector<std::string> lines;           // the steps run, a script line each
    long long ticks = 0;
    host::Millis clock = 0;
};

// Told of a day whose system holds the device for an hour of virtual time between two steps
// (a loop that waits on and on), with the steps so far; it must not return, since the system
// cannot be unwound from there.
using StuckDay = std::function<void(const DayResult&)>;

// A generated day; without `stuck`, no step has a deadline.
DayResult SimulateDay(const DayOptions& options, const StuckDay& stuck = nullptr);
// A script's steps with the invariants checked; `folder` is where relative file names start.
DayResult CheckScript(const std::vector<std::string>& lines, const std::string& folder = ".",
                      const StuckDay& stuck = nullptr);

// The shortest prefix of `lines` that still `fails` (the steps up to `step`, the one that failed),
// then with steps removed while it still does, within `budget` tries of `fails`.
std::vector<std::string> Shrink(const std::vector<std::string>& lines, int step, int budget,
                                const std::function<bool(const std::vector<std::string>&)>& fails);

int SimulateMain(int argc, char** argv);

}  // namespace handheld
