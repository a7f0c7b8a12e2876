// The step language of `handheld play`: one step per line, `#` starts a comment, words are
// separated by blanks and a word in double quotes may hold blanks (\" for a quote inside it).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace handheld {

// A step that cannot be parsed or cannot be carried out; line is 1-based.
class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

struct Word {
    std::string text;  // a quoted word without its quotes, backslashes as written
    bool quoted = false;
};

// The steps of the language. A player handles them in a switch over this, so that the compiler
// names any step it leaves out.
enum class StepKind { kReg, kPower, kPin38, kAbsent, kCom1, kFail, kStart, kWait, kTap, kPick, kOk, kSend, kSignal };

struct Step {
    int line = 0;
    StepKind kind = StepKind::kStart;
    std::vector<Word> words;  // words[0] is the step's name
    std::string source;       // the line, for messages

    const std::string& name() const { return words[0].text; }
    // Word i as meant: in a quoted word \" stands for a quote.
    std::string Arg(std::size_t i) const;
};

// Splits the script into steps and checks that each one is well formed: every step's name,
// forms and arguments are defined once, in script.cpp. Throws ScriptError.
std::vector<Step> ParseScript(const std::string& text);

// TEXT of `com1 send "TEXT"`: \r \n \t \\ \" and \xHH. Throws std::invalid_argument.
std::string UnescapeBytes(const std::string& text);

// MSG or WPARAM of `send MSG [WPARAM]`: decimal, or hex after 0x, at most `max`; empty otherwise.
std::optional<std::uint32_t> MessageNumber(const std::string& text, std::uint32_t max);

// The steps, a line or more each, for --help.
std::string StepSummary();

}  // namespace handheld
