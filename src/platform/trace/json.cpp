// Text the trace and the tools share: UTF-8 and 16-bit text, and bytes made readable.
#include <cstdio>

#include "platform/trace/trace.h"

namespace tracing {

namespace json {

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf8(std::u16string_view s, std::string& out) {
    // Most text is ASCII: copied a run at a time.
    char run[64];
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = 0;
        while (i < s.size() && n < sizeof run && s[i] < 0x80)
            run[n++] = static_cast<char>(s[i++]);
        out.append(run, n);
        if (i == s.size() || s[i] < 0x80) continue;
        std::uint32_t c = s[i++];
        if (c >= 0xD800 && c < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(static_cast<char32_t>(c), out);
    }
}

std::string Utf8(std::u16string_view s) {
    std::string out;
    AppendUtf8(s, out);
    return out;
}

std::u16string Utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra >= 0 && i + extra < utf8.size()) {
            cp = extra == 0 ? c : c & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                auto more = static_cast<unsigned char>(utf8[i + k]);
                if ((more & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    extra = k - 1;
                    break;
                }
                cp = (cp << 6) | (more & 0x3F);
            }
        } else {
            extra = 0;
        }
        // Overlong forms, surrogates and numbers past U+10FFFF are malformed too.
        static const std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[extra] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = 0xFFFD;
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string EscapedText(const void* data, std::size_t n) {
    std::string out;
    if (!data) return out;
    auto* p = static_cast<const unsigned char*>(data);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += static_cast<char>(c);
                } else {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02X", c);
                    out += buf;
                }
        }
    }
    return out;
}

}  // namespace json

}  // namespace tracing
