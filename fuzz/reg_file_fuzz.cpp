// Fuzzes reading a .reg file: the input is the file's bytes, decoded (UTF-16 by its byte order
// mark, else UTF-8) and parsed into the changes `reg import` asks the registry for. A file is
// either refused with a RegFileError naming a line it has, or read into changes the registry
// could be given; the same text written out as export writes it reads back the same, and a file
// read in small pieces, as a slow disk or pipe gives it, reads as one read whole.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "handheld/reg/reg_file.h"
#include "platform/host/registry_store.h"

namespace {

using handheld::reg::RegFile;
using handheld::reg::RegFileError;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

// The lines a text has, as the reader counts them: one more than its line ends.
template <class Text>
std::size_t LinesOf(const Text& text) {
    std::size_t lines = 1;
    for (auto c : text)
        lines += c == '\n';
    return lines;
}

// "line N: ..." with N a line of the file, or the header's own message.
void CheckRefusal(const RegFileError& e, std::size_t lines) {
    std::string message = e.what();
    if (message.rfind("not a .reg file", 0) == 0) return;
    unsigned long line = 0;
    if (std::sscanf(message.c_str(), "line %lu: ", &line) != 1 || line < 1 || line > lines)
        Fail("refused without a line of the file (" + std::to_string(lines) + " lines): " + message);
}

void CheckChanges(const RegFile& file, std::size_t lines) {
    if (file.lines.size() != file.changes.size()) Fail("a change without its line");
    std::size_t previous = 1;
    for (std::size_t i = 0; i < file.changes.size(); ++i) {
        const host::RegChange& c = file.changes[i];
        if (file.lines[i] < previous || file.lines[i] > lines) Fail("a change from a line out of order or range");
        previous = file.lines[i];
        if (c.base < 1 || c.base > 4) Fail("a change below no root");
        std::size_t depth = 0;
        for (std::size_t at = 0; at <= c.path.size() && !c.path.empty();) {
            std::size_t end = std::min(c.path.find(u'\\', at), c.path.size());
            std::size_t n = end - at;
            if (n == 0 || n > host::kMaxKeyName) Fail("a key name the registry would not make");
            for (std::size_t k = at; k < end; ++k)
                if (c.path[k] < 0x20) Fail("a key name with a control character");
            ++depth;
            at = end + 1;
        }
        if (depth > host::kMaxKeyDepth) Fail("a key deeper than the registry goes");
        using Kind = host::RegChange::Kind;
        if (c.kind == Kind::kDeleteTree && c.path.empty()) Fail("a root deleted");
        if (c.kind == Kind::kSetValue || c.kind == Kind::kDeleteValue) {
            if (c.name.size() > host::kMaxValueName || c.name.find(u'\0') != std::u16string::npos)
                Fail("a value name the registry would not take");
        }
    }
}

bool Same(const RegFile& a, const RegFile& b) {
    if (a.changes.size() != b.changes.size() || a.lines != b.lines) return false;
    for (std::size_t i = 0; i < a.changes.size(); ++i) {
        const host::RegChange &x = a.changes[i], &y = b.changes[i];
        if (x.kind != y.kind || x.base != y.base || x.path != y.path || x.if_present != y.if_present ||
            x.name != y.name || x.type != y.type || x.data != y.data)
            return false;
    }
    return true;
}

// The text of `bytes` given a few bytes at a time, or the refusal's message.
std::u16string InPieces(const std::string& bytes, std::string* refusal) {
    std::size_t given = 0, reads = 0;
    handheld::reg::RegFileLines lines(
        [&](char* buffer, std::size_t size) {
            std::size_t n = std::min({size, bytes.size() - given, 1 + reads++ % 7});
            bytes.copy(buffer, n, given);
            given += n;
            return n;
        },
        bytes.size());
    std::u16string text, line;
    try {
        while (lines.Next(&line))
            text += (lines.number() > 1 ? u"\n" : u"") + line;
    } catch (const RegFileError& e) {
        *refusal = e.what();
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::u16string text;
    std::string piecewise_refusal;
    std::u16string piecewise = InPieces(bytes, &piecewise_refusal);
    try {
        text = handheld::reg::DecodeRegFile(bytes);
    } catch (const RegFileError& e) {
        if (piecewise_refusal != e.what()) Fail("read in pieces, the file is refused otherwise");
        CheckRefusal(e, LinesOf(bytes));
        return 0;
    }
    if (!piecewise_refusal.empty() || piecewise != text) Fail("read in pieces, the file reads otherwise");
    RegFile file;
    bool read = false;
    try {
        file = handheld::reg::ParseRegFile(text);
        read = true;
        CheckChanges(file, LinesOf(text));
    } catch (const RegFileError& e) {
        CheckRefusal(e, LinesOf(text));
    }
    // Export writes LF-ended text as UTF-16LE with CRLF; reading that back is reading the text.
    if (text.find(u'\r') != std::u16string::npos) return 0;
    std::u16string again = handheld::reg::DecodeRegFile(handheld::reg::RegFileBytes(text));
    std::u16string crlf;
    for (char16_t c : text)
        crlf += c == u'\n' ? u"\r\n" : std::u16string(1, c);
    if (again != crlf) Fail("the text written as UTF-16 reads back otherwise");
    try {
        RegFile second = handheld::reg::ParseRegFile(again);
        if (!read || !Same(file, second)) Fail("the text written as UTF-16 reads as other changes");
    } catch (const RegFileError&) {
        if (read) Fail("the text written as UTF-16 is refused");
    }
    return 0;
}
