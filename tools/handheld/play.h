// `handheld play`: a scenario on a fresh temporary handheld, on the virtual clock.
#pragma once

#include <ostream>
#include <string>

namespace handheld {

// Runs the script `text` (named `name` in messages; `folder` is where relative file names in it
// start) on a new device that is removed afterwards. Writes the trace (JSON Lines) and what
// `reg query` steps print to `out`, script errors to `err` as NAME:LINE: message. Returns 0, or
// 1 on a script error.
int PlayScript(const std::string& text, const std::string& name, const std::string& folder, std::ostream& out,
               std::ostream& err);

int PlayCommand(int argc, char** argv);

}  // namespace handheld
