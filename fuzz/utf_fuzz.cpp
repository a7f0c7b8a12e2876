// Fuzzes the text converters between UTF-8 and 16-bit characters, and the face's UTF-8 reader,
// against a strict reading of UTF-8 written here. The input is taken both as UTF-8 bytes and as
// 16-bit characters (little-endian pairs).
//
// Well-formed UTF-8 reads as its characters everywhere; only it passes as exact. What is not
// well-formed gives U+FFFD (the face: '?') in place of the bytes that make no character, and
// nothing else changes: the characters around them stay as they were. UTF-16 always converts to
// well-formed UTF-8, and back, with a lone surrogate as U+FFFD.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "handheld/text.h"
#include "pelorn/face_text.h"
#include "platform/host/trace.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& input) {
    std::fprintf(stderr, "%s; input:", what);
    for (unsigned char c : input)
        std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

// The length of the well-formed character at s[i], 0 when none starts there.
std::size_t CharAt(const std::string& s, std::size_t i, char32_t* cp) {
    auto at = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0x100u; };
    unsigned c = at(i);
    auto tail = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) { return at(k) >= lo && at(k) <= hi; };
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF && tail(i + 1)) {
        *cp = (c & 0x1F) << 6 | (at(i + 1) & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        if (tail(i + 1, lo, hi) && tail(i + 2)) {
            *cp = (c & 0x0F) << 12 | (at(i + 1) & 0x3F) << 6 | (at(i + 2) & 0x3F);
            return 3;
        }
    }
    if (c >= 0xF0 && c <= 0xF4) {
        unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        if (tail(i + 1, lo, hi) && tail(i + 2) && tail(i + 3)) {
            *cp = (c & 0x07) << 18 | (at(i + 1) & 0x3F) << 12 | (at(i + 2) & 0x3F) << 6 | (at(i + 3) & 0x3F);
            return 4;
        }
    }
    return 0;
}

// The characters of `s`, and whether it is well-formed throughout; `bad` stands for each byte
// that starts no character.
std::u32string Characters(const std::string& s, char32_t bad, bool* well_formed) {
    std::u32string out;
    *well_formed = true;
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        std::size_t n = CharAt(s, i, &cp);
        if (n == 0) {
            *well_formed = false;
            out += bad;
            ++i;
            continue;
        }
        out += cp;
        i += n;
    }
    return out;
}

std::u32string Without(std::u32string text, char32_t bad) {
    std::u32string out;
    for (char32_t c : text)
        if (c != bad) out += c;
    return out;
}

std::u16string Utf16Of(const std::u32string& text) {
    std::u16string out;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// The characters of 16-bit text, a lone surrogate as U+FFFD; nothing when it is not well-formed
// and `strict`.
std::optional<std::u32string> FromUtf16(const std::u16string& w, bool strict) {
    std::u32string out;
    for (std::size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
            out += 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            if (strict) return std::nullopt;
            out += 0xFFFD;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string s(reinterpret_cast<const char*>(data), size);
    bool well_formed = false;
    const std::u32string chars = Characters(s, 0xFFFD, &well_formed);

    // UTF-8 to UTF-16.
    std::u16string wide = host::json::Utf16(s);
    std::optional<std::u32string> read = FromUtf16(wide, true);
    if (!read) Fail("UTF-16 with a lone surrogate made of UTF-8", s);
    if (well_formed && *read != chars) Fail("well-formed UTF-8 read as other characters", s);
    if (Without(*read, 0xFFFD) != Without(chars, 0xFFFD)) Fail("UTF-8 read as other characters around a bad byte", s);
    std::optional<std::u16string> exact = handheld::Utf16Exact(s);
    if (exact.has_value() != well_formed)
        Fail(well_formed ? "well-formed UTF-8 refused" : "bad UTF-8 taken as exact", s);
    if (exact && *exact != wide) Fail("exact text differs from the reading", s);

    // The face's reader.
    bool same = false;
    std::u32string face = pelorn::Decode(s);
    if (face != Characters(s, U'?', &same)) Fail("the face reads other characters", s);
    if (pelorn::Width(s) != static_cast<int>(face.size())) Fail("the face's width is not its characters", s);

    // UTF-16 to UTF-8 and back.
    std::u16string w;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        w += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    std::string narrow = host::json::Utf8(w);
    std::u32string narrow_chars = Characters(narrow, 0xFFFD, &well_formed);
    if (!well_formed) Fail("UTF-16 written as bad UTF-8", s);
    if (narrow_chars != *FromUtf16(w, false)) Fail("UTF-16 written as other characters", s);
    if (host::json::Utf16(narrow) != Utf16Of(narrow_chars)) Fail("UTF-16 does not read back", s);
    return 0;
}
