// `handheld status`: the device view as JSON, and how another program gets it. The process that
// runs the system answers a status query with its own view, from its first moment on (before its
// window is published, and inside any message box); while a handler holds its loop it cannot,
// and the device folder is all there is to show, as it is when no system runs.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "common/device_view.h"

namespace tools {

// What the status says of the system itself: "running" (its window is published and answers),
// "starting" (a Pelorn process runs but GPSHDL names no window of it yet), "busy" (its loop did
// not answer in time: a handler holds it), "not running".
struct SystemState {
    std::string state = "not running";
    long pid = 0;  // the Pelorn process; 0 when none runs
    bool Running() const { return pid != 0; }
};

// The view as a JSON object. `own` when the process running the system made it: the tray, menu,
// pins 21 and 38, backlight level, events, message boxes and whether COM1 is open are known only
// there, and null otherwise.
nlohmann::ordered_json StatusObject(const DeviceView& view, const SystemState& system, bool own);

// From now on this process answers status queries from other processes with its view of `device`
// (where other processes can reach it: on the real clock).
void AnswerStatusQueries(host::Handheld& device);

// The status of the device: what the Pelorn process on it answers, or what the device folder
// shows when none runs or it does not answer. `say` hears why the answer takes long, as it waits.
nlohmann::ordered_json DeviceStatus(host::Handheld& device, const std::function<void(const std::string&)>& say);

// The status as a short summary a person reads, one fact a line.
std::string StatusSummary(const nlohmann::ordered_json& status);

}  // namespace tools
