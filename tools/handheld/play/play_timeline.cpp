// The scenario as a picture: one lane per thing a person would watch, time running to the right.
// Plain SVG text, so any browser or renderer shows it; each piece carries a <title> saying what it
// is and when, for a pointer resting on it.
#include <algorithm>
#include <cstdio>

#include "handheld/play/play_story.h"

namespace handheld {
namespace {

// Where things go, in pixels: the column of lane names, then the plot; below the title, one band
// per lane, the time axis, and the legend's rows.
struct Layout {
    int label_width, plot_width, top, lane_height, axis_height, legend_row;
};
constexpr Layout kLayout{150, 1000, 40, 34, 40, 20};

// A legend's key: a lane's colour or mark, and what it means.
struct Key {
    enum Shape { kBlock, kMark, kLine } shape;
    std::string colour;
    std::string text;
};
struct LegendRow {
    std::string lane;
    std::vector<Key> keys;
};

constexpr char kLevelColour[] = "#1f4e9e";

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Seconds(std::int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ms) / 1000.0);
    return buf;
}

std::string Hex(std::uint32_t rgb) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06x", rgb & 0xFFFFFF);
    return buf;
}

class Picture {
public:
    explicit Picture(const Story& story) : end_(std::max<std::int64_t>(story.end, 1)) {}

    double X(std::int64_t t) const {
        return kLayout.label_width + static_cast<double>(t) * kLayout.plot_width / static_cast<double>(end_);
    }
    std::int64_t end() const { return end_; }

    // A lane: its group, its name on the left, a faint band behind it, and what `draw` puts on it.
    template <class Draw>
    void Lane(const std::string& id, const std::string& name, Draw draw) {
        y_ = kLayout.top + lanes_ * kLayout.lane_height;
        ++lanes_;
        out_ += "<g id=\"" + id + "\">\n";
        Add("<rect x=\"" + Num(kLayout.label_width) + "\" y=\"" + Num(y_ + 2) + "\" width=\"" +
            Num(kLayout.plot_width) + "\" height=\"" + Num(kLayout.lane_height - 4) + "\" fill=\"" +
            (lanes_ % 2 ? "#f4f4f4" : "#ebebeb") + "\"/>");
        Add("<text x=\"8\" y=\"" + Num(y_ + kLayout.lane_height / 2 + 5) + "\" font-size=\"13\">" + Escaped(name) +
            "</text>");
        draw();
        out_ += "</g>\n";
    }

    // A block from..to in `fill`, with its label inside when it fits.
    void Block(std::int64_t from, std::int64_t to, const std::string& fill, const std::string& label,
               const std::string& title) {
        double x0 = X(from), x1 = std::max(X(to), x0 + 2);
        Add("<rect x=\"" + Num(x0) + "\" y=\"" + Num(y_ + 6) + "\" width=\"" + Num(x1 - x0) + "\" height=\"" +
            Num(kLayout.lane_height - 12) + "\" fill=\"" + fill + "\" stroke=\"#555\" stroke-width=\"0.5\"><title>" +
            Escaped(title) + "</title></rect>");
        if (!label.empty() && x1 - x0 > 7.0 * static_cast<double>(label.size()))
            Add("<text x=\"" + Num(x0 + 3) + "\" y=\"" + Num(y_ + kLayout.lane_height / 2 + 4) +
                "\" font-size=\"11\">" + Escaped(label) + "</text>");
    }

    // Values that hold from one change to the next, as blocks.
    void Blocks(const std::vector<Story::Change>& lane, const std::string& what,
                std::string (*fill)(const Story::Change&), bool skip_zero = false) {
        for (std::size_t i = 0; i < lane.size(); ++i) {
            std::int64_t to = i + 1 < lane.size() ? lane[i + 1].t : end_;
            if (skip_zero && lane[i].value == 0) continue;
            Block(lane[i].t, to, fill(lane[i]), lane[i].label,
                  what + " " + lane[i].label + " from " + Seconds(lane[i].t) + " to " + Seconds(to));
        }
    }

    // A level drawn as a line stepping between low and high, `top` being the highest value.
    void Steps(const std::vector<Story::Change>& lane, std::int64_t top, const std::string& what, bool numbers) {
        std::string points;
        auto level = [&](std::int64_t v) {
            double frac =
                top > 0 ? static_cast<double>(std::clamp<std::int64_t>(v, 0, top)) / static_cast<double>(top) : 0;
            // The top leaves room for the value written above the line.
            return y_ + kLayout.lane_height - 7 - frac * (kLayout.lane_height - 23);
        };
        if (!numbers)  // a pin: its two levels named beside the lane
            for (std::int64_t v : {top, std::int64_t{0}})
                Add("<text x=\"" + Num(kLayout.label_width - 4) + "\" y=\"" + Num(level(v) + 3) +
                    "\" font-size=\"9\" text-anchor=\"end\" fill=\"#1f4e9e\">" + (v ? "high" : "low") + "</text>");
        for (std::size_t i = 0; i < lane.size(); ++i) {
            std::int64_t to = i + 1 < lane.size() ? lane[i + 1].t : end_;
            double y = level(lane[i].value);
            points += Num(X(lane[i].t)) + "," + Num(y) + " " + Num(X(to)) + "," + Num(y) + " ";
            std::string label = numbers ? std::to_string(lane[i].value) : lane[i].label;
            Add("<rect x=\"" + Num(X(lane[i].t)) + "\" y=\"" + Num(y_ + 2) + "\" width=\"" +
                Num(std::max(X(to) - X(lane[i].t), 1.0)) + "\" height=\"" + Num(kLayout.lane_height - 4) +
                "\" fill=\"none\" pointer-events=\"all\"><title>" +
                Escaped(what + " " + label + " from " + Seconds(lane[i].t) + " to " + Seconds(to)) + "</title></rect>");
            if (numbers && X(to) - X(lane[i].t) > 14)
                Add("<text x=\"" + Num(X(lane[i].t) + 2) + "\" y=\"" + Num(y - 2) + "\" font-size=\"10\">" + label +
                    "</text>");
        }
        if (!points.empty())
            Add("<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + kLevelColour +
                "\" stroke-width=\"2\"/>");
    }

    // Moments: a mark each, in the colour `fill` gives it; marks of different values at one moment
    // stand side by side (a start just left of a close, a send just right of it).
    void Marks(const std::vector<Story::Change>& lane, const std::string& what,
               std::string (*fill)(const Story::Change&)) {
        for (const Story::Change& c : lane)
            Add("<rect x=\"" + Num(X(c.t) - 1 + 3.0 * static_cast<double>(c.value - 1)) + "\" y=\"" + Num(y_ + 5) +
                "\" width=\"2\" height=\"" + Num(kLayout.lane_height - 10) + "\" fill=\"" + fill(c) + "\"><title>" +
                Escaped((what.empty() ? "" : what + " ") + c.label + " at " + Seconds(c.t)) + "</title></rect>");
    }

    void Spans(const std::vector<Story::Span>& spans, const std::string& fill, const std::string& what) {
        for (const Story::Span& s : spans)
            Block(s.from, s.to.value_or(end_), fill, s.label,
                  what + " " + s.label + " from " + Seconds(s.from) + " to " + Seconds(s.to.value_or(end_)));
    }

    // One row of keys a lane, under the time axis.
    void Legend(const std::vector<LegendRow>& rows) {
        double y = kLayout.top + lanes_ * kLayout.lane_height + kLayout.axis_height;
        legend_ = "<g id=\"legend\">\n";
        legend_ += "  <text x=\"8\" y=\"" + Num(y + 14) + "\" font-size=\"13\" font-weight=\"bold\">legend</text>\n";
        for (const LegendRow& row : rows) {
            y += kLayout.legend_row;
            legend_ += "  <text x=\"8\" y=\"" + Num(y + 14) + "\" font-size=\"12\">" + Escaped(row.lane) + "</text>\n";
            double x = kLayout.label_width;
            for (const Key& k : row.keys) {
                if (k.shape == Key::kLine)
                    legend_ += "  <line x1=\"" + Num(x) + "\" y1=\"" + Num(y + 10) + "\" x2=\"" + Num(x + 16) +
                               "\" y2=\"" + Num(y + 10) + "\" stroke=\"" + k.colour + "\" stroke-width=\"2\"/>\n";
                else
                    legend_ += "  <rect x=\"" + Num(k.shape == Key::kMark ? x + 7 : x) + "\" y=\"" + Num(y + 3) +
                               "\" width=\"" + (k.shape == Key::kMark ? "2" : "16") + "\" height=\"14\" fill=\"" +
                               k.colour + "\" stroke=\"#555\" stroke-width=\"" + (k.shape == Key::kMark ? "0" : "0.5") +
                               "\"/>\n";
                legend_ += "  <text x=\"" + Num(x + 20) + "\" y=\"" + Num(y + 14) + "\" font-size=\"11\">" +
                           Escaped(k.text) + "</text>\n";
                x += 28 + 6.5 * static_cast<double>(k.text.size());
            }
        }
        legend_ += "</g>\n";
        legend_height_ = static_cast<int>(rows.size() + 1) * kLayout.legend_row + 10;
    }

    std::string Finish(const std::string& title) {
        int height = kLayout.top + lanes_ * kLayout.lane_height + kLayout.axis_height + legend_height_;
        int width = kLayout.label_width + kLayout.plot_width + 30;
        std::string axis;
        // A tick every 1, 2 or 5 times a power of ten seconds, about ten across.
        std::int64_t step = 1000;
        for (std::int64_t m : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 100000, 1000000})
            if (end_ / (m * 1000) <= 12) {
                step = m * 1000;
                break;
            }
        int base = kLayout.top + lanes_ * kLayout.lane_height;
        axis += "<g id=\"time\">\n";
        axis += "<line x1=\"" + Num(kLayout.label_width) + "\" y1=\"" + Num(base + 2) + "\" x2=\"" +
                Num(kLayout.label_width + kLayout.plot_width) + "\" y2=\"" + Num(base + 2) + "\" stroke=\"#000\"/>\n";
        for (std::int64_t t = 0; t <= end_; t += step) {
            axis += "<line x1=\"" + Num(X(t)) + "\" y1=\"" + Num(kLayout.top) + "\" x2=\"" + Num(X(t)) + "\" y2=\"" +
                    Num(base + 6) + "\" stroke=\"#bbb\" stroke-width=\"0.5\"/>\n";
            axis += "<text x=\"" + Num(X(t)) + "\" y=\"" + Num(base + 20) +
                    "\" font-size=\"11\" text-anchor=\"middle\">" + std::to_string(t / 1000) + " s</text>\n";
        }
        axis += "<text x=\"8\" y=\"" + Num(base + 20) + "\" font-size=\"13\">time (s)</text>\n";
        axis += "</g>\n";
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
               std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
               std::to_string(width) + " " + std::to_string(height) +
               "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n"
               "<text x=\"8\" y=\"24\" font-size=\"16\">" +
               Escaped(title) + "</text>\n" + out_ + axis + legend_ + "</svg>\n";
    }

private:
    static std::string Num(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", v);
        return buf;
    }
    void Add(const std::string& element) { out_ += "  " + element + "\n"; }

    std::int64_t end_;
    int lanes_ = 0;
    double y_ = 0;
    std::string out_;
    std::string legend_;
    int legend_height_ = 0;
};

std::string IconFill(const Story::Change& c) { return Hex(IconColour(c.value)); }

// The lanes' colours, each with what it means (the legend's keys).
constexpr const char* kAcColours[][2] = {{"#ffd27f", "battery"}, {"#7fb2ff", "online"}, {"#cccccc", "unknown"}};
constexpr const char* kTimeoutColours[][2] = {{"#c8e6c9", "after so many seconds"}, {"#f2b8b8", "never"}};
constexpr const char* kProfileColours[][2] = {{"#d9c7f0", "standard"}, {"#8fd19e", "GPS"}};
constexpr const char* kEventColours[][2] = {{"#7030a0", "event"}, {"#c07000", "backlight event"}};
constexpr const char* kProcessColours[][2] = {
    {"#2e8b57", "start"}, {"#c00000", "close (the process ends)"}, {"#1f4e9e", "another program's send or signal"}};
constexpr char kBoxColour[] = "#fff3a0", kMenuColour[] = "#d0e8ff";

std::string AcFill(const Story::Change& c) { return kAcColours[c.value == 0 ? 0 : c.value == 1 ? 1 : 2][0]; }
std::string TimeoutFill(const Story::Change& c) { return kTimeoutColours[c.value == 0][0]; }
std::string ProfileFill(const Story::Change& c) { return kProfileColours[c.value == 1][0]; }
std::string EventFill(const Story::Change& c) {
    return kEventColours[c.label.find("BackLight") != std::string::npos][0];
}
std::string ProcessFill(const Story::Change& c) { return kProcessColours[std::clamp<std::int64_t>(c.value, 0, 2)][0]; }

template <std::size_t N>
std::vector<Key> Keys(const char* const (&colours)[N][2], Key::Shape shape = Key::kBlock) {
    std::vector<Key> keys;
    for (const auto& c : colours)
        keys.push_back({shape, c[0], c[1]});
    return keys;
}

// The icon lane's key: each picture the scenario showed, once.
std::vector<Key> IconKeys(const Story& story) {
    std::vector<Key> keys;
    for (const Story::Change& c : story.icon) {
        if (c.value == 0) continue;
        Key k{Key::kBlock, Hex(IconColour(c.value)), std::to_string(c.value) + ": " + c.label};
        if (std::none_of(keys.begin(), keys.end(), [&](const Key& o) { return o.text == k.text; })) keys.push_back(k);
    }
    if (keys.empty()) keys.push_back({Key::kBlock, "#ffffff", "none shown"});
    return keys;
}

std::int64_t Highest(const std::vector<Story::Change>& lane) {
    std::int64_t top = 0;
    for (const Story::Change& c : lane)
        top = std::max(top, c.value);
    return top;
}

}  // namespace

std::string TimelineSvg(const Story& story, const std::string& title) {
    Picture p(story);
    p.Lane("process", "start, close, sends", [&] { p.Marks(story.process, "", ProcessFill); });
    p.Lane("icon", "tray icon", [&] { p.Blocks(story.icon, "tray icon", IconFill, true); });
    p.Lane("pin21", "pin 21", [&] { p.Steps(story.pin21, 1, "pin 21", false); });
    p.Lane("pin38", "pin 38", [&] { p.Steps(story.pin38, 1, "pin 38", false); });
    p.Lane("ac", "AC line", [&] { p.Blocks(story.ac_line, "AC line", AcFill); });
    p.Lane("profile", "profile in force", [&] { p.Blocks(story.profile, "profile", ProfileFill); });
    p.Lane("backlight", "backlight level", [&] {
        p.Steps(story.backlight, std::max<std::int64_t>(Highest(story.backlight), 1), "backlight level", true);
    });
    p.Lane("backlight-timeout", "backlight off after",
           [&] { p.Blocks(story.backlight_timeout, "backlight off after", TimeoutFill); });
    p.Lane("suspend-timeout", "suspend after", [&] { p.Blocks(story.suspend_timeout, "suspend after", TimeoutFill); });
    p.Lane("events", "events set", [&] { p.Marks(story.events, "event", EventFill); });
    p.Lane("boxes", "message boxes", [&] { p.Spans(story.boxes, kBoxColour, "box"); });
    p.Lane("menus", "menus", [&] { p.Spans(story.menus, kMenuColour, "menu"); });
    p.Legend({
        {"start, close, sends", Keys(kProcessColours, Key::kMark)},
        {"tray icon", IconKeys(story)},
        {"pins, backlight level", {{Key::kLine, kLevelColour, "level: up high (brighter), down low"}}},
        {"AC line", Keys(kAcColours)},
        {"profile in force", Keys(kProfileColours)},
        {"time-outs", Keys(kTimeoutColours)},
        {"events set", Keys(kEventColours, Key::kMark)},
        {"boxes, menus",
         {{Key::kBlock, kBoxColour, "box shown until answered"}, {Key::kBlock, kMenuColour, "menu open until chosen"}}},
    });
    return p.Finish(title);
}

}  // namespace handheld
