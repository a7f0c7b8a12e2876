#include "handheld/play/script.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/control.h"
#include "handheld/reg/reg_command.h"
#include "platform/host/endpoint.h"
#include "platform/host/trace.h"

namespace handheld {
namespace {

std::vector<Word> Split(const std::string& line, int number) {
    std::vector<Word> words;
    std::size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        Word w;
        if (c == '"') {
            w.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    w.text += line.substr(i, 2);
                    i += 2;
                    continue;
                }
                if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                w.text += line[i++];
            }
            if (!closed) throw ScriptError(number, "a quote is not closed");
            if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                throw ScriptError(number, "a blank must follow a closing quote");
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                w.text += line[i++];
        }
        words.push_back(std::move(w));
    }
    return words;
}

bool Number(const std::string& text, long long lo, long long hi, long long* out = nullptr) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    if (text.size() > 12) return false;
    long long v = std::atoll(text.c_str());
    if (v < lo || v > hi) return false;
    if (out) *out = v;
    return true;
}

std::string Upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// One row of --help: a form of the step, and what it does (lines after the first continue it).
struct Form {
    std::string usage;
    std::string help;
};

// Everything the language says about one step: its name, its forms, and what its arguments must be.
struct StepRule {
    StepKind kind;
    std::string name;
    std::vector<Form> forms;
    // A step of choices takes one word, one of these (in any case when any_case); other steps
    // have their own check.
    std::vector<std::string> choices;
    bool any_case = false;
    void (*check)(const Step&, const StepRule&) = nullptr;

    // The step's usage, as an error shows it.
    std::string Usage() const {
        std::string usage;
        for (const Form& f : forms)
            usage += (usage.empty() ? "" : " | ") + f.usage;
        return usage;
    }
    [[noreturn]] void Misused(const Step& s, const std::string& detail = "") const {
        throw ScriptError(s.line, "usage: " + Usage() + detail);
    }
};

std::string Joined(const std::vector<std::string>& words, const std::string& between, const std::string& last) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i)
        out += (i == 0 ? "" : i + 1 == words.size() ? last : between) + words[i];
    return out;
}

// Text as lines of at most `width` characters, broken at blanks.
std::string Wrapped(const std::string& text, std::size_t width) {
    std::string out, line;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find(' ', at), text.size());
        std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    return out + line;
}

StepRule Choice(StepKind kind, const std::string& name, std::vector<std::string> choices, const std::string& help,
                bool any_case = false) {
    return StepRule{kind, name, {{name + " " + Joined(choices, "|", "|"), help}}, std::move(choices), any_case};
}

StepRule Checked(StepKind kind, const std::string& name, std::vector<Form> forms,
                 void (*check)(const Step&, const StepRule&)) {
    return StepRule{kind, name, std::move(forms), {}, false, check};
}

std::size_t Arguments(const Step& s) { return s.words.size() - 1; }

void NoArguments(const Step& s, const StepRule& rule) {
    if (Arguments(s)) rule.Misused(s);
}

void CheckReg(const Step& s, const StepRule&) {
    std::vector<std::string> args;
    for (std::size_t i = 1; i < s.words.size(); ++i)
        args.push_back(s.Arg(i));
    try {
        ParseRegCommand(args);
    } catch (const RegSyntaxError& e) {
        throw ScriptError(s.line, std::string("reg: ") + e.what());
    }
}

void CheckCom1(const Step& s, const StepRule& rule) {
    std::size_t n = Arguments(s);
    std::string what = n ? s.Arg(1) : "";
    if (what == "send" && n == 2) {
        try {
            UnescapeBytes(s.words[2].text);
        } catch (const std::invalid_argument& e) {
            throw ScriptError(s.line, std::string("com1 send: ") + e.what());
        }
    } else if (what == "log" && (n == 2 || n == 3)) {
        if (n == 3 && !Number(s.Arg(3), 0, 1LL << 40))
            throw ScriptError(s.line, "usage: " + rule.forms[1].usage + ": OFFSET is a byte count");
    } else if (!(what == "silent" && n == 1)) {
        rule.Misused(s);
    }
}

void CheckFail(const Step& s, const StepRule& rule) {
    std::size_t n = Arguments(s);
    if (n < 1 || n > 2) rule.Misused(s);
    const auto& failable = host::Faults::Failable();
    if (std::find(failable.begin(), failable.end(), s.Arg(1)) == failable.end())
        throw ScriptError(s.line, "fail: " + s.Arg(1) + " cannot be made to fail (see --help)");
    if (n == 2 && !Number(s.Arg(2), 1, 1000000)) rule.Misused(s, ": COUNT is 1 or more");
}

void CheckWait(const Step& s, const StepRule& rule) {
    if (Arguments(s) != 1 || !Number(s.Arg(1), 0, 1LL << 40)) rule.Misused(s);
}

void CheckTap(const Step& s, const StepRule& rule) {
    if (Arguments(s) != 1 || !Number(s.Arg(1), 0, 239)) rule.Misused(s, " (a column, 0 to 239)");
}

void CheckPick(const Step& s, const StepRule& rule) {
    if (Arguments(s) != 1 || (!s.words[1].quoted && s.Arg(1) != "none")) rule.Misused(s);
}

void CheckSend(const Step& s, const StepRule& rule) {
    std::size_t n = Arguments(s);
    if (n == 1 && tools::FindControlMessage(s.Arg(1))) return;
    std::optional<std::uint32_t> msg;
    if (n >= 1 && n <= 2) msg = MessageNumber(s.Arg(1), 0xFFFF);
    if (!msg || (n == 2 && !MessageNumber(s.Arg(2), 0xFFFFFFFF))) rule.Misused(s);
    if (!host::MayComeFromAnotherProcess(*msg))
        throw ScriptError(s.line, "send: only the window manager sends message " + s.Arg(1));
}

std::string FailHelp() {
    std::vector<std::string> names(host::Faults::Failable().begin(), host::Faults::Failable().end());
    return "the next COUNT calls (1) of FUNCTION fail; FUNCTION is one of\n" + Wrapped(Joined(names, " ", " "), 58);
}

std::string SendHelp() {
    std::vector<std::string> spelled;
    for (const tools::ControlMessage& m : tools::ControlMessages())
        spelled.push_back(tools::Spelled(m));
    return Wrapped("another program sends " + Joined(spelled, ", ", " or ") + " to the window GPSHDL names", 58);
}

const std::vector<StepRule>& Rules() {
    static const std::vector<StepRule> rules = [] {
        std::vector<std::string> messages;
        for (const tools::ControlMessage& m : tools::ControlMessages())
            messages.push_back(m.name);
        return std::vector<StepRule>{
            Checked(StepKind::kReg, "reg",
                    {{"reg add|delete|query ...", "the registry, in reg.exe's syntax (reg query prints)"}}, CheckReg),
            Choice(StepKind::kPower, "power", {"battery", "online", "unknown"}, "the AC line"),
            Choice(StepKind::kPin38, "pin38", {"high", "low", "released"},
                   "the hardware drives pin 38, or stops driving it"),
            Choice(StepKind::kAbsent, "absent", {"COM1:", "BKL1:"}, "the device is not there", true),
            Checked(StepKind::kCom1, "com1",
                    {{"com1 send \"TEXT\"", "the receiver sends TEXT (\\r \\n \\t \\\\ \\\" \\xHH) at 4800 baud"},
                     {"com1 log FILE [OFFSET]",
                      "... a recorded log (16 MiB at most), # lines stripped, from\nOFFSET bytes on\n"
                      "(both from the moment COM1: is next opened)"},
                     {"com1 silent", "the receiver sends nothing more"}},
                    CheckCom1),
            Checked(StepKind::kFail, "fail", {{"fail FUNCTION [COUNT]", FailHelp()}}, CheckFail),
            Checked(StepKind::kStart, "start", {{"start", "the system starts (after a close: a new process)"}},
                    NoArguments),
            Checked(StepKind::kWait, "wait", {{"wait MS", "time runs on for MS milliseconds"}}, CheckWait),
            Checked(StepKind::kTap, "tap", {{"tap X", "the stylus taps the taskbar at column X"}}, CheckTap),
            Checked(StepKind::kPick, "pick",
                    {{"pick \"ITEM\" | pick none", "the person chooses from the open menu, or taps beside it"}},
                    CheckPick),
            Checked(StepKind::kOk, "ok", {{"ok", "the person presses OK on the message box or dialog"}}, NoArguments),
            Checked(StepKind::kSend, "send",
                    {{"send " + Joined(messages, "|", "|"), SendHelp()},
                     {"send MSG [WPARAM]",
                      "... any message by number (decimal or 0x hex) another program\n"
                      "may send: WM_NULL, WM_CLOSE, WM_COMMAND, 0x0400 to 0xFFFF"}},
                    CheckSend),
            Choice(StepKind::kSignal, "signal", {"INT", "TERM", "HUP"},
                   "the system's process gets the signal: it closes its\n"
                   "window as WM_CLOSE would, even before GPSHDL names it"),
        };
    }();
    return rules;
}

void Check(Step& s) {
    const StepRule* rule = nullptr;
    for (const StepRule& r : Rules())
        if (r.name == s.name()) rule = &r;
    if (!rule) throw ScriptError(s.line, "unknown step '" + s.name() + "'");
    s.kind = rule->kind;
    if (rule->check) return rule->check(s, *rule);
    bool chosen = false;
    if (Arguments(s) == 1)
        for (const std::string& c : rule->choices)
            chosen = chosen || (rule->any_case ? Upper(s.Arg(1)) == c : s.Arg(1) == c);
    if (!chosen) rule->Misused(s);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint32_t> MessageNumber(const std::string& text, std::uint32_t max) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || text.size() > 12) return std::nullopt;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end || v > max) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::string Step::Arg(std::size_t i) const {
    const Word& w = words.at(i);
    if (!w.quoted) return w.text;
    std::string out;
    for (std::size_t k = 0; k < w.text.size(); ++k) {
        if (w.text[k] == '\\' && k + 1 < w.text.size() && w.text[k + 1] == '"') ++k;
        out += w.text[k];
    }
    return out;
}

std::vector<Step> ParseScript(const std::string& text) {
    std::vector<Step> steps;
    int number = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        ++number;
        at = end + 1;
        Step step;
        step.line = number;
        step.words = Split(line, number);
        step.source = line;
        if (step.words.empty()) continue;
        Check(step);
        steps.push_back(std::move(step));
    }
    return steps;
}

std::string UnescapeBytes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) throw std::invalid_argument("a backslash ends the text");
        switch (text[i]) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'x': {
                int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (hi < 0 || lo < 0) throw std::invalid_argument("\\x needs two hex digits");
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                throw std::invalid_argument(std::string("unknown escape \\") + text[i]);
        }
    }
    return out;
}

std::string StepSummary() {
    constexpr std::size_t kColumn = 30;
    const std::string indent(kColumn + 2, ' ');
    std::string out;
    for (const StepRule& rule : Rules())
        for (const Form& f : rule.forms) {
            out += "  " + f.usage;
            out += f.usage.size() < kColumn ? std::string(kColumn - f.usage.size(), ' ') : "\n" + indent;
            for (char c : f.help)
                out += c == '\n' ? "\n" + indent : std::string(1, c);
            out += "\n";
        }
    return out;
}

}  // namespace handheld
