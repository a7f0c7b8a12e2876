// What the rest of reg shares of reg.exe's syntax: type and key names, digits, the bytes of /d.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "handheld/reg/reg_command.h"

namespace handheld::reg {

constexpr DWORD kRegQword = 11;

// The name reg.exe gives a type; REG_ and the number for a type it has no name for.
std::string TypeText(DWORD type);

template <class Char>
bool SameNoCase(std::basic_string_view<Char> a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] > 0x7F ||
            std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

inline bool SameNoCase(const std::string& a, const char* b) { return SameNoCase(std::string_view(a), b); }

// A key as ROOT\PATH: the root, the names below it with the separators tidied, and the whole as
// it is printed.
struct KeyName {
    HKEY root = nullptr;
    std::u16string path;
    std::u16string shown;
};

// Refuses roots it does not know, and names and depths the registry would not create.
KeyName SplitKey(std::u16string_view text);

// Refuses a name longer than the registry takes for a value.
void CheckValueName(std::u16string_view name);

inline int HexDigit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Digits in `base` up to `max`, nothing else: no sign, no blanks.
template <class Char>
bool ParseDigits(std::basic_string_view<Char> text, int base, std::uint64_t max, std::uint64_t* out) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (Char ch : text) {
        int d = HexDigit(static_cast<char32_t>(ch));
        if (d < 0 || d >= base || v > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base))
            return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    *out = v;
    return true;
}

// The value's bytes from /d, or a message saying why the data does not fit the type.
std::vector<BYTE> Encode(const RegCommand& c, std::string* problem);

}  // namespace handheld::reg
