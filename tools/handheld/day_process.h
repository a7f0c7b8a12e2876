// A day, or a replay of one, run in a child process of its own. A day that never gives the device
// back, or that a sanitizer ends, ends alone and the run goes on; and every day starts from the
// same fresh process, whatever days ran before it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "handheld/simulate.h"

namespace handheld {

struct DayOutcome {
    DayResult result;
    // How the child ended when it gave no result ("signal 6", "exit 1"), then the sanitizer's
    // report from what it wrote on stderr: its kind and first frames and its summary line.
    std::optional<std::string> died;
};

// Runs `day` in a child. `day` is given the handler to call for a day that is stuck: it sends the
// result so far to this process and ends the child without unwinding the day.
DayOutcome InChildProcess(const std::function<DayResult(const StuckDay& stuck)>& day);

// What a report on stderr says of the fault: a sanitizer's kind, frames and summary, or the last
// lines of anything else.
std::string FaultReport(const std::string& stderr_text);

}  // namespace handheld
