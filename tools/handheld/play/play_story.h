// What a scenario's records say happened, read back from the JSON Lines a player wrote (see
// play_records.h): in words, one line per moment (--summary), and as lanes over time for a picture
// (--timeline).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace handheld {

// What the process lane marks.
enum ProcessMark { kStarted = 0, kEnded = 1, kSent = 2 };

// A time-out as the lanes label it: seconds, or "never" for 0.
std::string TimeoutLabel(std::int64_t seconds);

struct Story {
    // A lane holds values from a time on; a value holds until the next one.
    struct Change {
        std::int64_t t;
        std::int64_t value;
        std::string label;  // the value in words
    };
    struct Span {
        std::int64_t from;
        std::optional<std::int64_t> to;  // none: still open at the end
        std::string label;
    };
    struct Moment {
        std::int64_t t;
        std::vector<std::string> what;
        std::string printed;  // what steps printed then
    };

    std::int64_t end = 0;                   // the last record's time
    std::vector<Change> icon;               // value: the icon's resource id, 0 for none; label: its colour
    std::vector<Change> pin21, pin38;       // 1 high, 0 low
    std::vector<Change> ac_line;            // the AC line status the person gave the device
    std::vector<Change> backlight;          // the level sent to BKL1:
    std::vector<Change> backlight_timeout;  // seconds, as written to BatteryTimeout
    std::vector<Change> suspend_timeout;    // seconds, as written to BattSuspendTimeout
    std::vector<Change> profile;            // the profile last applied: 1 GPS, 0 standard
    std::vector<Change> process;            // value: a ProcessMark; label: what happened
    std::vector<Change> events;             // each named event set; label: its name
    std::vector<Span> boxes;                // message boxes and dialogs, from shown to answered
    std::vector<Span> menus;
    std::vector<Moment> moments;  // in words, in time order
};

// Reads the records; throws std::runtime_error naming the first line that is not one.
Story ReadStory(std::istream& records);

// One line a moment: "  3.18 s  "GPS On" chosen; pin 38 high", what steps printed indented below.
std::string SummaryText(const Story& story);

// The lanes as a picture in SVG.
std::string TimelineSvg(const Story& story, const std::string& title);

// The icon's colour as the person sees it ("dark green square") and as RGB (0xRRGGBB).
std::string IconColourName(std::int64_t id);
std::uint32_t IconColour(std::int64_t id);

}  // namespace handheld
