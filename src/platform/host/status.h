// What a person could see or measure on the device, as one JSON object: the tray icon, the menu,
// the pins, the AC line, the backlight, the time-outs in force, the events set, the message
// boxes open. The process running the system answers with its own view; without one, the
// device's settings and registry are all there is to show.
#pragma once

#include <optional>
#include <string>

#include "platform/host/seam.h"

namespace host {

class Handheld;

std::string StatusJson(Handheld& device, bool running);

// Asks the process that owns `window` on the device in `folder` for its status; empty when no
// live process owns it.
std::optional<std::string> QueryStatusOfOtherProcess(const std::string& folder, HWND window);

}  // namespace host
