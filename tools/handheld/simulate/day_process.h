// A day, or a replay of one, run in a child process of its own. A day that never gives the device
// back, or that a sanitizer ends, ends alone and the run goes on; and every day starts from the
// same fresh process, whatever days ran before it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "handheld/simulate/simulate.h"

namespace handheld {

struct DayOutcome {
    DayResult result;
    // How the child ended when it gave no result ("signal 6", "exit 1"), then the sanitizer's
    // report from what it wrote on stderr: its kind and first frames and its summary line.
    std::optional<std::string> died;
    // Of a child that died: the steps it began (JournalStep), the last one running when it died.
    std::vector<std::string> begun;
};

// Runs `day` in a child. `day` is given the handler to call for a day that is stuck: it sends the
// result so far to this process and ends the child without unwinding the day.
DayOutcome InChildProcess(const std::function<DayResult(const StuckDay& stuck)>& day);

// In a day's child process, notes the step about to run, written through at once: a child that
// dies leaves the steps it began. Does nothing in any other process.
void JournalStep(const std::string& line);

// The line of a sanitizer's report that tells the fault and where it lies ("SUMMARY: ..."), or
// the first line of a death without one ("signal 11").
std::string DeathSignature(const std::string& died);

// What a report on stderr says of the fault: a sanitizer's kind, frames and summary, or the last
// lines of anything else.
std::string FaultReport(const std::string& stderr_text);

}  // namespace handheld
