// A .reg file read as the changes it asks for.
#include <algorithm>
#include <optional>

#include "handheld/reg/reg_file.h"

#include <functional>
#include "handheld/reg/reg_syntax.h"
#include "handheld/text.h"
#include "platform/host/reg_data.h"

namespace handheld::reg {
namespace {

constexpr std::u16string_view kRegHeader4 = u"REGEDIT4";

std::u16string_view Trim(std::u16string_view text) {
    std::size_t b = text.find_first_not_of(u" \t");
    if (b == std::u16string_view::npos) return {};
    return text.substr(b, text.find_last_not_of(u" \t") + 1 - b);
}

// A quoted string starting at text[*i]; *i ends past the closing quote.
std::u16string Unquote(std::u16string_view text, std::size_t* i) {
    std::u16string out;
    for (std::size_t k = *i + 1; k < text.size(); ++k) {
        char16_t ch = text[k];
        if (ch == u'"') {
            *i = k + 1;
            return out;
        }
        if (ch == u'\\') {
            char16_t next = k + 1 < text.size() ? text[k + 1] : u'\0';
            if (next == u'n') {
                ch = u'\n';
            } else if (next == u'r') {
                ch = u'\r';
            } else if (next == u'\\' || next == u'"') {
                ch = next;
            } else {
                throw RegFileError("a backslash in a string must be doubled");
            }
            ++k;
        }
        out += ch;
    }
    throw RegFileError("a quote is not closed");
}

// Whether a value line's data is hex, which may go on over the next lines.
bool HexEntry(std::u16string_view line) {
    std::size_t i = 1;
    if (line[0] == u'"') {
        while (i < line.size() && line[i] != u'"')
            i += line[i] == u'\\' ? 2 : 1;
        ++i;
    }
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t' || line[i] == u'='))
        ++i;
    return i < line.size() && SameNoCase(line.substr(i, 3), "hex");
}

std::vector<BYTE> HexBytes(std::u16string_view text) {
    std::vector<BYTE> bytes;
    text = Trim(text);
    if (text.empty()) return bytes;
    bytes.reserve(text.size() / 3 + 1);
    for (std::size_t i = 0;;) {
        std::size_t comma = std::min(text.find(u',', i), text.size());
        std::u16string_view item = Trim(text.substr(i, comma - i));
        std::uint64_t v = 0;
        if (item.size() > 2 || !ParseDigits(item, 16, 0xFF, &v))
            throw RegFileError("bad hex byte '" + Utf8(std::u16string(item)) + "'");
        bytes.push_back(static_cast<BYTE>(v));
        if (comma == text.size()) return bytes;
        i = comma + 1;
    }
}

host::RegChange ValueChange(std::u16string_view line, const host::RegChange& section) {
    host::RegChange change;
    change.base = section.base;
    change.path = section.path;
    std::size_t i = 0;
    if (line[0] == u'@') {
        i = 1;
    } else {
        change.name = Unquote(line, &i);
        if (change.name.find(u'\0') != std::u16string::npos) throw RegFileError("a value name cannot hold NUL");
        try {
            CheckValueName(change.name);
        } catch (const RegSyntaxError& e) {
            throw RegFileError(e.what());
        }
    }
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
        ++i;
    if (i >= line.size() || line[i] != u'=') throw RegFileError("expected = after the value's name");
    std::u16string_view data = Trim(line.substr(i + 1));
    change.kind = host::RegChange::Kind::kSetValue;
    if (data == u"-") {
        change.kind = host::RegChange::Kind::kDeleteValue;
        change.if_present = true;
    } else if (!data.empty() && data[0] == u'"') {
        std::size_t end = 0;
        std::u16string text = Unquote(data, &end);
        if (!Trim(data.substr(end)).empty()) throw RegFileError("text after the closing quote");
        change.type = REG_SZ;
        change.data = host::StringData(text);
    } else if (SameNoCase(data.substr(0, 6), "dword:")) {
        std::uint64_t v = 0;
        if (data.size() > 6 + 8 || !ParseDigits(data.substr(6), 16, 0xFFFFFFFFull, &v))
            throw RegFileError("dword: needs 1 to 8 hex digits");
        change.type = REG_DWORD;
        change.data = host::DwordData(static_cast<DWORD>(v));
    } else if (SameNoCase(data.substr(0, 4), "hex:")) {
        change.type = REG_BINARY;
        change.data = HexBytes(data.substr(4));
    } else if (SameNoCase(data.substr(0, 4), "hex(")) {
        std::size_t close = data.find(u"):");
        std::uint64_t type = 0;
        if (close == std::u16string_view::npos || !ParseDigits(data.substr(4, close - 4), 16, 0xFFFFFFFFull, &type))
            throw RegFileError("hex(TYPE): needs the type in hex");
        change.type = static_cast<DWORD>(type);
        change.data = HexBytes(data.substr(close + 2));
    } else {
        throw RegFileError("unknown data '" + Utf8(std::u16string(data)) + "' (\"text\", dword:, hex: or hex(TYPE):)");
    }
    return change;
}

// The changes of the lines `next` gives, one by one.
void ParseLines(const std::function<bool(std::u16string_view*)>& next, const EachChange& each) {
    std::size_t number = 0;
    std::u16string_view raw;
    auto next_line = [&]() {
        if (!next(&raw)) return false;
        if (!raw.empty() && raw.back() == u'\r') raw.remove_suffix(1);
        ++number;
        return true;
    };
    std::optional<host::RegChange> section;
    bool header = false;
    std::u16string joined;
    while (next_line()) {
        std::size_t first = number;
        std::u16string_view line = Trim(raw);
        try {
            if (line.empty() || line[0] == u';') continue;
            if (!header) {
                if (line != kRegHeader && line != kRegHeader4)
                    throw RegFileError("not a .reg file: the first line must be \"" + Utf8(std::u16string(kRegHeader)) +
                                       "\"");
                header = true;
                continue;
            }
            if (line[0] == u'[') {
                std::size_t close = line.rfind(u']');
                if (close == std::u16string_view::npos || !Trim(line.substr(close + 1)).empty())
                    throw RegFileError("a key name must end with ]");
                bool remove = line.size() > 1 && line[1] == u'-';
                KeyName key;
                try {
                    key = SplitKey(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)));
                } catch (const RegSyntaxError& e) {
                    throw RegFileError(e.what());
                }
                if (remove && key.path.empty()) throw RegFileError("a root key cannot be deleted");
                host::RegChange change;
                change.kind = remove ? host::RegChange::Kind::kDeleteTree : host::RegChange::Kind::kCreateKey;
                change.base = host::RegistryStore::Root(key.root);
                change.path = std::move(key.path);
                change.if_present = remove;
                if (remove)
                    section.reset();
                else
                    section = change;
                if (!each(std::move(change), first)) return;
                continue;
            }
            if (line[0] != u'@' && line[0] != u'"') throw RegFileError("expected [KEY], \"name\"= or @=");
            if (!section) throw RegFileError("a value before any [KEY]");
            // Long hex data goes on over lines that end in a backslash.
            if (line.back() == u'\\' && HexEntry(line)) {
                joined.assign(line);
                while (!joined.empty() && joined.back() == u'\\' && next_line()) {
                    joined.pop_back();
                    joined += Trim(raw);
                }
                line = joined;
            }
            if (!each(ValueChange(line, *section), first)) return;
        } catch (const RegFileDecodeError&) {
            throw;
        } catch (const RegFileError& e) {
            throw RegFileError("line " + std::to_string(first) + ": " + e.what());
        }
    }
    if (!header)
        throw RegFileError("not a .reg file: the first line must be \"" + Utf8(std::u16string(kRegHeader)) + "\"");
}

}  // namespace

RegFileLines::RegFileLines(ReadBytes read, std::size_t limit) : read_(std::move(read)), limit_(limit) {}

void RegFileLines::Start() {
    while (buffer_.size() < 3 && Fill()) {
    }
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(buffer_[i]); };
    if (buffer_.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        coding_ = Coding::kUtf16Le, at_ = 2;
    } else if (buffer_.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        coding_ = Coding::kUtf16Be, at_ = 2;
    } else if (buffer_.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        at_ = 3;
    }
}

bool RegFileLines::Fill() {
    buffer_.erase(0, at_);
    at_ = 0;
    chunk_.resize(64 * 1024);
    std::size_t n = read_(chunk_.data(), chunk_.size());
    total_ += n;
    if (total_ > limit_) throw RegFileTooLarge("the file holds more than " + std::to_string(limit_) + " bytes");
    buffer_.append(chunk_.data(), n);
    return n > 0;
}

bool RegFileLines::Next(std::u16string* line) {
    if (done_) return false;
    if (number_++ == 0) Start();
    line->clear();
    auto refuse = [&](const char* why) { throw RegFileDecodeError("line " + std::to_string(number_) + ": " + why); };
    if (coding_ == Coding::kUtf8) {
        utf8_.clear();
        for (;;) {
            std::size_t end = buffer_.find('\n', at_);
            utf8_.append(buffer_, at_, end == std::string::npos ? std::string::npos : end - at_);
            if (end != std::string::npos) {
                at_ = end + 1;
                break;
            }
            at_ = buffer_.size();
            if (!Fill()) {
                done_ = true;
                break;
            }
        }
        std::optional<std::u16string> text = Utf16Exact(utf8_);
        if (!text) refuse("not UTF-8 (and no byte order mark of UTF-16)");
        *line = std::move(*text);
        return true;
    }
    const bool little = coding_ == Coding::kUtf16Le;
    for (;;) {
        for (; at_ + 1 < buffer_.size(); at_ += 2) {
            auto lo = static_cast<unsigned char>(buffer_[at_ + (little ? 0 : 1)]);
            auto hi = static_cast<unsigned char>(buffer_[at_ + (little ? 1 : 0)]);
            char16_t c = static_cast<char16_t>(lo | hi << 8);
            if (c == u'\n') {
                at_ += 2;
                return true;
            }
            *line += c;
        }
        if (!Fill()) {
            if (at_ < buffer_.size()) refuse("the file is UTF-16 but ends in half a character");
            done_ = true;
            return true;
        }
    }
}

std::u16string DecodeRegFile(const std::string& bytes) {
    std::size_t given = 0;
    RegFileLines lines(
        [&](char* buffer, std::size_t size) {
            std::size_t n = std::min(size, bytes.size() - given);
            bytes.copy(buffer, n, given);
            given += n;
            return n;
        },
        bytes.size());
    std::u16string text, line;
    while (lines.Next(&line)) {
        if (lines.number() > 1) text += u'\n';
        text += line;
    }
    return text;
}

void ParseRegFile(std::u16string_view text, const EachChange& each) {
    std::size_t at = 0;
    ParseLines(
        [&](std::u16string_view* raw) {
            if (at > text.size()) return false;
            std::size_t end = std::min(text.find(u'\n', at), text.size());
            *raw = text.substr(at, end - at);
            at = end + 1;
            return true;
        },
        each);
}

void ParseRegFile(RegFileLines& lines, const EachChange& each) {
    std::u16string line;
    ParseLines(
        [&](std::u16string_view* raw) {
            if (!lines.Next(&line)) return false;
            *raw = line;
            return true;
        },
        each);
}

RegFile ParseRegFile(std::u16string_view text) {
    RegFile file;
    ParseRegFile(text, [&](host::RegChange&& change, std::size_t line) {
        file.changes.push_back(std::move(change));
        file.lines.push_back(line);
        return true;
    });
    return file;
}

}  // namespace handheld::reg
