// Fuzzes the step language of `handheld play`: the input is a script. It is either refused with a
// ScriptError naming one of its lines, or split into steps whose words a player can take as they
// stand: every argument readable, the text of `com1 send` unescaped. The escapes themselves are
// fuzzed on the same bytes, and must read back what an escaper writes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "handheld/play/script.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

int LinesOf(const std::string& text) {
    int lines = 1;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

// TEXT of `com1 send "TEXT"` for any bytes.
std::string Escaped(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::vector<handheld::Step> steps = handheld::ParseScript(text);
        int previous = 0;
        for (const handheld::Step& s : steps) {
            if (s.line <= previous || s.line > LinesOf(text)) Fail("a step from a line out of order or range");
            previous = s.line;
            if (s.words.empty() || s.source.find('\n') != std::string::npos) Fail("a step without its words");
            for (std::size_t i = 0; i < s.words.size(); ++i)
                if (s.Arg(i).size() > s.words[i].text.size()) Fail("an argument longer than its word");
            if (s.kind == handheld::StepKind::kCom1 && s.Arg(1) == "send") handheld::UnescapeBytes(s.words[2].text);
        }
        // The steps alone, without blank lines and comments, are the same steps.
        std::string kept;
        for (const handheld::Step& s : steps)
            kept += s.source + "\n";
        std::vector<handheld::Step> again;
        try {
            again = handheld::ParseScript(kept);
        } catch (const handheld::ScriptError& e) {
            Fail(std::string("the steps alone are refused: ") + e.what());
        }
        if (again.size() != steps.size()) Fail("the steps alone are other steps");
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (again[i].kind != steps[i].kind || again[i].words.size() != steps[i].words.size())
                Fail("the steps alone are other steps");
            for (std::size_t k = 0; k < steps[i].words.size(); ++k)
                if (again[i].Arg(k) != steps[i].Arg(k)) Fail("the steps alone have other words");
        }
    } catch (const handheld::ScriptError& e) {
        if (e.line() < 1 || e.line() > LinesOf(text)) Fail("refused without a line of the script");
    }

    try {
        std::string bytes = handheld::UnescapeBytes(text);
        if (bytes.size() > text.size()) Fail("unescaped text longer than the escaped");
    } catch (const std::invalid_argument&) {
    }
    if (handheld::UnescapeBytes(Escaped(text)) != text) Fail("escaped bytes read back otherwise");
    return 0;
}
