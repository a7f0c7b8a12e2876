#include "handheld/text.h"

#include "platform/host/trace.h"

namespace handheld {

std::u16string Utf16(const std::string& utf8) {
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

std::string Utf8(const std::u16string& text) { return host::json::Utf8(text); }

}  // namespace handheld
