// `handheld status`: the device view as one JSON object, and how another program gets it. The
// process that owns the system's window answers a status query with its own view; without one,
// the device folder is all there is to show, and what only the running system knows is null.
#pragma once

#include <string>

#include "common/device_view.h"

namespace tools {

// The view as one line of JSON; the tray, menu, pins 21 and 38, backlight level, events and
// message boxes only while `running`.
std::string StatusJson(const DeviceView& view, bool running);

// From now on this process answers status queries from other processes with its view of `device`
// (where other processes can reach it: on the real clock).
void AnswerStatusQueries(host::Handheld& device);

// The status of the device: what the process owning the window GPSHDL names answers, or, when
// no live process does, the view from the device folder.
std::string DeviceStatus(host::Handheld& device);

}  // namespace tools
