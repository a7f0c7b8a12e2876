// `handheld play`: a scenario on a fresh temporary handheld, on the virtual clock.
#pragma once

#include <ostream>
#include <string>

#include "handheld/play/script.h"

namespace handheld {

// Runs the script `text` (named `name` in messages; `folder` is where relative file names in it
// start) on a new device that is removed afterwards. Writes the trace (JSON Lines) and what
// `reg query` steps print to `out`, script errors to `err` as NAME:LINE: message. Returns 0, or
// 1 on a script error.
// `as_returned`: calls in the order they returned (see PlayRecords).
int PlayScript(const std::string& text, const std::string& name, const std::string& folder, std::ostream& out,
               std::ostream& err, bool as_returned = false);

int PlayMain(int argc, char** argv);

// `handheld steps`: the script's steps as the parser reads them, one JSON object a line, for a
// player outside this program (the Win32 player under Wine).
int StepsMain(int argc, char** argv);

}  // namespace handheld
