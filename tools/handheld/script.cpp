#include "handheld/script.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/control.h"
#include "handheld/reg_command.h"
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

bool OneOf(const std::string& word, std::initializer_list<const char*> choices) {
    for (const char* c : choices)
        if (word == c) return true;
    return false;
}

std::string Upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void Check(const Step& s) {
    const std::string& name = s.name();
    std::size_t n = s.words.size() - 1;  // arguments
    auto fail = [&](const std::string& usage) { throw ScriptError(s.line, "usage: " + usage); };
    if (name == "reg") {
        std::vector<std::string> args;
        for (std::size_t i = 1; i < s.words.size(); ++i)
            args.push_back(s.Arg(i));
        try {
            ParseRegCommand(args);
        } catch (const RegSyntaxError& e) {
            throw ScriptError(s.line, std::string("reg: ") + e.what());
        }
    } else if (name == "power") {
        if (n != 1 || !OneOf(s.Arg(1), {"battery", "online", "unknown"})) fail("power battery|online|unknown");
    } else if (name == "pin38") {
        if (n != 1 || !OneOf(s.Arg(1), {"high", "low", "released"})) fail("pin38 high|low|released");
    } else if (name == "absent") {
        if (n != 1 || !OneOf(Upper(s.Arg(1)), {"COM1:", "BKL1:"})) fail("absent COM1:|BKL1:");
    } else if (name == "com1") {
        std::string what = n ? s.Arg(1) : "";
        if (what == "send" && n == 2) {
            try {
                UnescapeBytes(s.words[2].text);
            } catch (const std::invalid_argument& e) {
                throw ScriptError(s.line, std::string("com1 send: ") + e.what());
            }
        } else if (what == "log" && (n == 2 || n == 3)) {
            if (n == 3 && !Number(s.Arg(3), 0, 1LL << 40)) fail("com1 log FILE [OFFSET]: OFFSET is a byte count");
        } else if (!(what == "silent" && n == 1)) {
            fail("com1 send \"TEXT\" | com1 log FILE [OFFSET] | com1 silent");
        }
    } else if (name == "fail") {
        if (n < 1 || n > 2) fail("fail FUNCTION [COUNT]");
        const auto& failable = host::Faults::Failable();
        if (std::find(failable.begin(), failable.end(), s.Arg(1)) == failable.end())
            throw ScriptError(s.line, "fail: " + s.Arg(1) + " cannot be made to fail (see --help)");
        if (n == 2 && !Number(s.Arg(2), 1, 1000000)) fail("fail FUNCTION [COUNT]: COUNT is 1 or more");
    } else if (name == "start" || name == "ok") {
        if (n != 0) fail(name);
    } else if (name == "wait") {
        if (n != 1 || !Number(s.Arg(1), 0, 1LL << 40)) fail("wait MS");
    } else if (name == "tap") {
        if (n != 1 || !Number(s.Arg(1), 0, 239)) fail("tap X (a column, 0 to 239)");
    } else if (name == "pick") {
        if (n != 1 || (!s.words[1].quoted && s.Arg(1) != "none")) fail("pick \"ITEM\" | pick none");
    } else if (name == "send") {
        if (n != 1 || !tools::FindControlMessage(s.Arg(1))) fail("send " + tools::ControlMessageNames());
    } else if (name == "signal") {
        if (n != 1 || !OneOf(s.Arg(1), {"INT", "TERM", "HUP"})) fail("signal INT|TERM|HUP");
    } else {
        throw ScriptError(s.line, "unknown step '" + name + "'");
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

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

const char* StepSummary() {
    return "  reg add|delete|query ...      the registry, in reg.exe's syntax (reg query prints)\n"
           "  power battery|online|unknown  the AC line\n"
           "  pin38 high|low|released       the hardware drives pin 38, or stops driving it\n"
           "  absent COM1:|BKL1:            the device is not there\n"
           "  com1 send \"TEXT\"              the receiver sends TEXT (\\r \\n \\t \\\\ \\\" \\xHH) at 4800 baud\n"
           "  com1 log FILE [OFFSET]        ... a recorded log (16 MiB at most), # lines stripped, from\n"
           "                                OFFSET bytes on\n"
           "                                (both from the moment COM1: is next opened)\n"
           "  com1 silent                   the receiver sends nothing more\n"
           "  fail FUNCTION [COUNT]         the next COUNT calls (1) of FUNCTION fail\n"
           "  start                         the system starts (after a close: a new process)\n"
           "  wait MS                       time runs on for MS milliseconds\n"
           "  tap X                         the stylus taps the taskbar at column X\n"
           "  pick \"ITEM\" | pick none       the person chooses from the open menu, or taps beside it\n"
           "  ok                            the person presses OK on the message box or dialog\n"
           "  send show|hide|reset|close|about\n"
           "                                another program sends 0x0401, 0x0402, 0x0403, WM_CLOSE or\n"
           "                                the About command to the window GPSHDL names\n"
           "  signal INT|TERM|HUP           the system's process gets the signal: it closes its\n"
           "                                window as WM_CLOSE would, even before GPSHDL names it\n";
}

}  // namespace handheld
