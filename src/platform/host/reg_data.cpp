#include "platform/host/reg_data.h"

namespace host {

std::optional<DWORD> DwordOf(const void* data, std::size_t size) {
    if (size != 4) return std::nullopt;
    auto* b = static_cast<const BYTE*>(data);
    return static_cast<DWORD>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<DWORD>(b[3]) << 24);
}

std::vector<BYTE> DwordData(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

std::u16string TextOf(const void* data, std::size_t size) {
    auto* b = static_cast<const BYTE*>(data);
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(b[i] | b[i + 1] << 8);
    return text;
}

std::u16string StringOf(const std::vector<BYTE>& data) {
    std::u16string text = TextOf(data);
    std::size_t end = text.find(u'\0');
    if (end != std::u16string::npos) text.resize(end);
    return text;
}

std::vector<BYTE> TextData(std::u16string_view text) {
    std::vector<BYTE> data;
    data.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    return data;
}

std::vector<BYTE> StringData(std::u16string_view text) {
    std::vector<BYTE> data = TextData(text);
    data.push_back(0);
    data.push_back(0);
    return data;
}

}  // namespace host
