// The device view in a person's words, the same in `handheld status`, pelorn's face and its log:
// time-outs (0 is "never"), the profiles, why the profile in force holds, where the brightness
// comes from, and what each tray icon means.
#pragma once

#include <optional>
#include <string>

#include "common/device_view.h"

namespace tools {

// A time-out as written: "30 s", "never" for 0, "not set".
std::string Seconds(std::optional<DWORD> seconds);
// The time-out a profile puts in force: "after 30 s", or "never" (0, or its enable value 0).
std::string TimeoutWords(std::optional<DWORD> seconds, std::optional<DWORD> enable);
// "backlight off after 30 s, suspend never, brightness 5"
std::string ProfileWords(const DeviceView::Profile& profile);

// A reason, in full for status and the log, and in at most 20 characters for the face's panel.
struct Reason {
    std::string full;
    std::string brief;
};

// Why the profile in force (DeviceView::ProfileInForce) holds, or why none does: pin 38 decides,
// or the time-outs written match neither profile, and then which values differ. `pins_known`:
// the view comes from the process running the system, which alone knows the pins.
Reason ProfileReason(const DeviceView& view, bool pins_known);

// Where the brightness sent to the backlight comes from: GPS_Slide while the receiver is powered
// on battery, STD_Slide otherwise (on external power too). Only the running system knows.
Reason BrightnessReason(const DeviceView& view);

// What a tray icon shows: "receiver powered" (130 and 131, the two frames of the blink), "receiver
// off" (132); empty for another resource.
std::string IconMeaning(std::optional<UINT> resource);
// "132 (receiver off)", or the number alone.
std::string IconWords(std::optional<UINT> resource);

}  // namespace tools
