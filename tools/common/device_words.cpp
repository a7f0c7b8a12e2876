#include "common/device_words.h"

#include <vector>

namespace tools {
namespace {

std::string Written(std::optional<DWORD> backlight, std::optional<DWORD> suspend) {
    return "BatteryTimeout " + Seconds(backlight) + ", BattSuspendTimeout " + Seconds(suspend);
}

// The values of the time-outs written that `profile` would write otherwise: "BatteryTimeout
// never, BattSuspendTimeout 180 s".
std::string Differences(const DeviceView& v, const DeviceView::Profile& profile) {
    std::vector<std::string> differ;
    if (profile.BacklightTimeout() != v.battery_timeout)
        differ.push_back("BatteryTimeout " + Seconds(profile.BacklightTimeout()));
    if (profile.SuspendTimeout() != v.batt_suspend_timeout)
        differ.push_back("BattSuspendTimeout " + Seconds(profile.SuspendTimeout()));
    std::string text;
    for (const std::string& d : differ)
        text += (text.empty() ? "" : ", ") + d;
    return text;
}

}  // namespace

std::string Seconds(std::optional<DWORD> seconds) {
    if (!seconds) return "not set";
    return *seconds ? std::to_string(*seconds) + " s" : "never";
}

std::string TimeoutWords(std::optional<DWORD> seconds, std::optional<DWORD> enable) {
    // The monitor reads a missing value as 0.
    if (!enable.value_or(0) || !seconds.value_or(0)) return "never";
    return "after " + std::to_string(*seconds) + " s";
}

std::string ProfileWords(const DeviceView::Profile& p) {
    return "backlight off " + TimeoutWords(p.bl_timeout, p.backlight) + ", suspend " +
           TimeoutWords(p.power_timeout, p.power) + ", brightness " + std::to_string(p.slide.value_or(0));
}

Reason ProfileReason(const DeviceView& v, bool pins_known) {
    if (!v.battery_timeout && !v.batt_suspend_timeout)
        return {"none applied yet: BatteryTimeout and BattSuspendTimeout are not set", "none applied yet"};
    std::optional<std::string> in_force = v.ProfileInForce();
    if (!in_force) {
        std::string gps = Differences(v, v.gps), std = Differences(v, v.std_profile);
        return {"the time-outs written (" + Written(v.battery_timeout, v.batt_suspend_timeout) +
                    ") match neither profile: GPS would write " + gps + ", STD " + std +
                    " (a profile changed since it was applied, or another program wrote them; State_Chg applies "
                    "the profile again)",
                "neither matches"};
    }
    const bool gps = *in_force == "GPS";
    if (!pins_known) return {"as last applied: the time-outs written are " + *in_force + "'s", "as last applied"};
    if (gps && v.pin38) return {"pin 38 is high: the receiver is powered", "pin 38 high"};
    if (!gps && !v.pin38) return {"pin 38 is low: the receiver is off", "pin 38 low"};
    if (gps)
        return {"the time-outs written are still GPS's though pin 38 is low: the next tick applies STD",
                "pin 38 low, not yet"};
    return {
        "pin 38 is high, yet STD holds: Pelorn takes STD while its icon is hidden (it leaves the receiver "
        "alone then), or its next tick applies GPS",
        "hidden, or not yet"};
}

Reason BrightnessReason(const DeviceView& v) {
    const bool battery = v.ac_line == AC_LINE_OFFLINE;
    const bool gps = v.pin38 && battery;
    const std::optional<DWORD> gps_slide = v.gps.slide, std_slide = v.std_profile.slide;
    const DWORD level = v.backlight_level;
    // The rule; the level actually sent settles it when the two slides differ.
    if (gps && level == gps_slide.value_or(0))
        return {"from GPS_Slide: the receiver is powered and the device is on battery", "GPS_Slide, battery"};
    if (!gps && level == std_slide.value_or(0)) {
        if (!v.pin38) return {"from STD_Slide: the receiver is off", "STD_Slide, rcv off"};
        std::string power =
            v.ac_line == AC_LINE_ONLINE ? "on external power" : "with the AC line unknown (external power)";
        return {"from STD_Slide: " + power + " the brightness comes from STD_Slide, even with the receiver powered",
                "STD_Slide, on AC"};
    }
    if (gps && level == std_slide.value_or(0))
        return {"from STD_Slide: Pelorn takes STD while its icon is hidden, though the receiver is powered",
                "STD_Slide, hidden"};
    const char* next = gps ? "GPS_Slide" : "STD_Slide";
    return {"level " + std::to_string(level) + " is neither GPS_Slide nor STD_Slide now: the next tick sends " + next,
            std::string(next) + ", next tick"};
}

std::string IconMeaning(std::optional<UINT> resource) {
    if (!resource) return "";
    switch (*resource) {
        case 130:
        case 131:
            return "receiver powered";
        case 132:
            return "receiver off";
        default:
            return "";
    }
}

std::string IconWords(std::optional<UINT> resource) {
    if (!resource) return "?";
    std::string meaning = IconMeaning(resource);
    return std::to_string(*resource) + (meaning.empty() ? "" : " (" + meaning + ")");
}

}  // namespace tools
