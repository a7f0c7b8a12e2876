#include "handheld/play/play_story.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/device_words.h"
#include "pelorn/console.h"
#include "platform/host/icons.h"
#include "res/host_resources.h"

namespace handheld {
namespace {

using nlohmann::json;

// The GPIO block's registers and the two pins the system drives (as gpio_regs.h has them).
constexpr std::int64_t kSet0 = 0x18, kSet1 = 0x1C, kClear0 = 0x24, kClear1 = 0x28;
constexpr std::int64_t kPin21 = 0x200000, kPin38 = 0x40;
constexpr std::int64_t kBacklightSetLevel = 100;

std::string Text(const json& r, const char* field) {
    auto it = r.find(field);
    return it != r.end() && it->is_string() ? it->get<std::string>() : "";
}

std::int64_t Number(const json& r, const char* field, std::int64_t otherwise = 0) {
    auto it = r.find(field);
    if (it == r.end()) return otherwise;
    if (it->is_number()) return it->get<std::int64_t>();
    if (it->is_string()) return std::strtoll(it->get<std::string>().c_str(), nullptr, 0);
    return otherwise;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The first word of a step and the rest of it.
std::pair<std::string, std::string> Split(const std::string& step) {
    std::size_t blank = step.find(' ');
    if (blank == std::string::npos) return {step, ""};
    return {step.substr(0, blank), step.substr(blank + 1)};
}

// A quoted word as the person reads it: without its quotes and escapes.
std::string Unquoted(const std::string& word) {
    if (word.size() < 2 || word.front() != '"' || word.back() != '"') return word;
    std::string out;
    for (std::size_t i = 1; i + 1 < word.size(); ++i) {
        if (word[i] == '\\' && i + 2 < word.size() && word[i + 1] == '"') ++i;
        out += word[i];
    }
    return out;
}

class Reader {
public:
    explicit Reader(Story& story) : s_(story) {
        Set(s_.pin21, 0, 0, "low");
        Set(s_.pin38, 0, 0, "low");
        Set(s_.ac_line, 0, 0, "battery");
        Set(s_.icon, 0, 0, "none");
    }

    void Read(const json& r) {
        std::int64_t t = Number(r, "t");
        s_.end = std::max(s_.end, t);
        if (r.contains("step")) {
            auto result = r.find("result");
            std::optional<std::int64_t> answer;
            if (result != r.end() && result->is_number()) answer = result->get<std::int64_t>();
            return Step(t, Text(r, "step"), Text(r, "within"), answer);
        }
        if (r.contains("output")) {
            Moment(t).printed += Text(r, "output");
            return;
        }
        if (r.contains("call")) return Call(t, Text(r, "call"), r);
    }

    void Finish() {
        for (auto* spans : {&s_.boxes, &s_.menus})
            for (Story::Span& span : *spans)
                if (!span.to) span.to = s_.end;
    }

private:
    Story::Moment& Moment(std::int64_t t) {
        if (s_.moments.empty() || s_.moments.back().t != t) s_.moments.push_back({t, {}, {}});
        return s_.moments.back();
    }
    void Say(std::int64_t t, std::string what) { Moment(t).what.push_back(std::move(what)); }

    // Adds a change to the lane when the value differs from the one before; true when it did.
    static bool Set(std::vector<Story::Change>& lane, std::int64_t t, std::int64_t value, std::string label) {
        if (!lane.empty() && lane.back().value == value && lane.back().label == label) return false;
        if (!lane.empty() && lane.back().t == t) lane.pop_back();
        lane.push_back({t, value, std::move(label)});
        return true;
    }

    static void Close(std::vector<Story::Span>& spans, std::int64_t t, const std::string& label = "") {
        for (auto it = spans.rbegin(); it != spans.rend(); ++it)
            if (!it->to) {
                it->to = t;
                if (!label.empty()) it->label = label;
                return;
            }
    }

    void Pin38(std::int64_t t) {
        bool high = driven_.value_or(pin38_);
        if (Set(s_.pin38, t, high, high ? "high" : "low") && !driven_) Say(t, high ? "pin 38 high" : "pin 38 low");
    }

    // What the window answered a message another program sent, in words: the control messages
    // answer 1 when they were handled and 0 when they failed.
    static std::string Answered(const std::string& message, std::optional<std::int64_t> result) {
        if (!result) return "";
        std::string first = message.substr(0, message.find(' '));
        std::int64_t number = std::strtoll(first.c_str(), nullptr, 0);
        bool control = first == "show" || first == "hide" || first == "reset" || (number >= 0x401 && number <= 0x403);
        std::string answer = std::to_string(*result);
        if (control && (*result == 0 || *result == 1)) answer += *result ? ": handled" : ": failed";
        return " (answered " + answer + ")";
    }

    void Step(std::int64_t t, const std::string& step, const std::string& within, std::optional<std::int64_t> result) {
        // Each step starts a line of its own, which the calls it causes continue.
        if (!s_.moments.empty() && !s_.moments.back().what.empty()) s_.moments.push_back({t, {}, {}});
        auto [name, rest] = Split(step);
        if (name == "start") {
            s_.process.push_back({t, kStarted, "start"});
            Say(t, "the system starts");
        } else if (name == "tap") {
            Say(t, "tap at column " + rest);
            if (within == "TrackPopupMenu") Close(s_.menus, t, "menu: none");
        } else if (name == "pick") {
            bool none = rest == "none";
            Say(t, none ? "tap beside the menu" : Quoted(Unquoted(rest)) + " chosen");
            Close(s_.menus, t, none ? "menu: none" : Unquoted(rest));
        } else if (name == "ok") {
            Say(t, "OK pressed");
            Close(s_.boxes, t);
        } else if (name == "send") {
            s_.process.push_back({t, kSent, "send " + rest});
            Say(t, "another program sends " + rest + Answered(rest, result));
        } else if (name == "signal") {
            s_.process.push_back({t, kSent, "SIG" + rest});
            Say(t, "SIG" + rest + " to the system's process");
        } else if (name == "power") {
            std::int64_t status = rest == "battery" ? 0 : rest == "online" ? 1 : 255;
            Set(s_.ac_line, t, status, rest);
            Say(t, "AC line " + rest);
        } else if (name == "pin38") {
            driven_.reset();
            if (rest != "released") driven_ = rest == "high";
            Say(t, rest == "released" ? "the hardware lets go of pin 38" : "the hardware drives pin 38 " + rest);
            Pin38(t);
        } else if (name == "absent") {
            Say(t, rest + " is taken away");
        } else if (name == "fail") {
            auto [call, count] = Split(rest);
            Say(t, count.empty() || count == "1" ? "the next " + call + " fails"
                                                 : "the next " + count + " " + call + " calls fail");
        } else if (name == "com1") {
            auto [what, text] = Split(rest);
            Say(t, what == "silent" ? "the receiver falls silent"
                   : what == "log"  ? "the receiver plays " + Split(text).first
                                    : "the receiver says " + text);
        } else if (name == "reg") {
            Say(t, step);
        }
    }

    void Call(std::int64_t t, const std::string& call, const json& r) {
        if (call == "GpioWrite") {
            std::int64_t offset = Number(r, "offset"), value = Number(r, "value");
            if ((offset == kSet1 || offset == kClear1) && (value & kPin38)) {
                pin38_ = offset == kSet1;
                Pin38(t);
            }
            if ((offset == kSet0 || offset == kClear0) && (value & kPin21)) {
                bool high = offset == kSet0;
                if (Set(s_.pin21, t, high, high ? "high" : "low")) Say(t, high ? "pin 21 high" : "pin 21 low");
            }
        } else if (call == "Shell_NotifyIcon" && Number(r, "result") != 0) {
            std::string op = Text(r, "op");
            std::int64_t before = s_.icon.back().value, icon = op == "delete" ? 0 : Number(r, "icon");
            if (!Set(s_.icon, t, icon, icon ? IconColourName(icon) : "none")) return;
            bool blinking = (before == 130 || before == 131) && (icon == 130 || icon == 131);
            if (op == "delete")
                Say(t, "tray icon removed");
            else if (!blinking)
                Say(t, "tray icon " + std::to_string(icon) + " (" + IconColourName(icon) + ")" +
                           (op == "add" ? " added" : ""));
        } else if (call == "DeviceIoControl" && Text(r, "device") == "BKL1:" &&
                   Number(r, "code") == kBacklightSetLevel) {
            auto in = r.find("in");
            if (in != r.end() && in->is_array() && in->size() >= 2 && (*in)[1].is_number()) {
                std::int64_t level = (*in)[1].get<std::int64_t>();
                if (Set(s_.backlight, t, level, "")) Say(t, "backlight level " + std::to_string(level));
            }
        } else if (call == "RegQueryValueEx") {
            std::string name = Text(r, "lpValueName");
            if (name == "GPS_BlTimeOut") profile_ = "GPS";
            if (name == "STD_BlTimeOut") profile_ = "standard";
        } else if (call == "RegSetValueEx" && Number(r, "result", -1) == 0) {
            Written(t, Text(r, "name"), r);
        } else if (call == "SetEvent" && Number(r, "result") != 0) {
            s_.events.push_back({t, 1, Text(r, "name")});
        } else if (call == "MessageBox") {
            s_.boxes.push_back({t, std::nullopt, Quoted(Text(r, "text"))});
            Say(t, "message box " + Quoted(Text(r, "text")));
        } else if (call == "DialogBoxParam") {
            s_.boxes.push_back({t, std::nullopt, "About"});
            Say(t, "About box shown");
        } else if (call == "TrackPopupMenu") {
            s_.menus.push_back({t, std::nullopt, "menu"});
            Say(t, "menu opens");
        } else if (call == "WriteFile" && !Text(r, "text").empty()) {
            Say(t, Text(r, "device") + " sends " + Quoted(Text(r, "text")) + " (" +
                       std::to_string(Text(r, "lpBuffer").size() / 2) + " bytes)");
        } else if (call == "PostQuitMessage") {
            // The process ends: its modal loops give up, whatever they showed.
            Close(s_.boxes, t);
            Close(s_.menus, t);
            s_.process.push_back({t, kEnded, "close"});
            Say(t, "the system's process ends");
        }
    }

    void Written(std::int64_t t, const std::string& name, const json& r) {
        std::int64_t value = Number(r, "data");
        if (name == "BatteryTimeout") {
            Set(s_.backlight_timeout, t, value, TimeoutLabel(value));
            backlight_timeout_ = value;
        } else if (name == "BattSuspendTimeout") {
            Set(s_.suspend_timeout, t, value, TimeoutLabel(value));
            Set(s_.profile, t, profile_ == "GPS", profile_);
            auto timeout = [](std::int64_t s) { return tools::TimeoutWords(static_cast<DWORD>(s), 1); };
            Say(t, profile_ + " profile applied: backlight off " +
                       (backlight_timeout_ ? timeout(*backlight_timeout_) : "?") + ", suspend " + timeout(value));
        } else if (name == "FW") {
            Say(t, "firmware version recorded:" + Text(r, "data"));
        } else if (name == "AppReg" && value == 1) {
            Say(t, "first run: settings written");
        } else if (name == "GPSHDL") {
            char handle[16];
            std::snprintf(handle, sizeof handle, "0x%llX", static_cast<unsigned long long>(value));
            Say(t, std::string("GPSHDL names window ") + handle);
        }
    }

    Story& s_;
    bool pin38_ = false;
    std::optional<bool> driven_;  // by the hardware
    std::string profile_ = "standard";
    std::optional<std::int64_t> backlight_timeout_;
};

std::string Seconds(std::int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%7.2f s", static_cast<double>(ms) / 1000.0);
    return buf;
}

}  // namespace

Story ReadStory(std::istream& records) {
    Story story;
    Reader reader(story);
    int number = 0;
    for (std::string line; std::getline(records, line);) {
        ++number;
        json r = json::parse(line, nullptr, false);
        if (r.is_discarded() || !r.is_object() || !r.contains("t"))
            throw std::runtime_error("line " + std::to_string(number) + " is not a record");
        reader.Read(r);
    }
    reader.Finish();
    return story;
}

std::string SummaryText(const Story& story) {
    std::string out;
    for (const Story::Moment& m : story.moments) {
        std::string what;
        for (const std::string& w : m.what)
            what += (what.empty() ? "" : "; ") + w;
        if (!what.empty()) out += Seconds(m.t) + "  " + what + "\n";
        for (std::size_t at = 0; at < m.printed.size();) {
            std::size_t end = std::min(m.printed.find('\n', at), m.printed.size());
            if (end > at) out += std::string(11, ' ') + m.printed.substr(at, end - at) + "\n";
            at = end + 1;
        }
    }
    return out;
}

std::string TimeoutLabel(std::int64_t seconds) { return seconds == 0 ? "never" : std::to_string(seconds) + " s"; }

std::uint32_t IconColour(std::int64_t id) {
    static const std::map<UINT, std::vector<BYTE>> icons = EmbeddedIcons();
    auto it = icons.find(static_cast<UINT>(id));
    if (it == icons.end()) return 0xFFFFFF;
    try {
        host::IconImage picture = host::DecodeIco(it->second.data(), it->second.size(), 16, 16);
        return picture.At(2, 2) & 0xFFFFFF;
    } catch (const std::runtime_error&) {
        return 0xFFFFFF;
    }
}

std::string IconColourName(std::int64_t id) {
    static const std::map<UINT, std::vector<BYTE>> icons = EmbeddedIcons();
    auto it = icons.find(static_cast<UINT>(id));
    if (it == icons.end()) return "no picture";
    try {
        host::IconImage picture = host::DecodeIco(it->second.data(), it->second.size(), 16, 16);
        return pelorn::Console::Describe(&picture);
    } catch (const std::runtime_error&) {
        return "no picture";
    }
}

}  // namespace handheld
