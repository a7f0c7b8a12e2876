// A key's tree as a .reg file.
#include <cinttypes>
#include <cstdio>
#include <optional>

#include "handheld/reg/reg_file.h"
#include "handheld/reg/reg_tree.h"
#include "platform/host/reg_data.h"

namespace handheld::reg {
namespace {

void AppendAscii(std::u16string* out, std::string_view text) {
    for (char c : text)
        out->push_back(static_cast<char16_t>(c));
}

// Between quotes, \ and " are escaped, and so are the line breaks a value name may hold, which
// would otherwise end the entry's line.
void AppendQuoted(std::u16string* out, std::u16string_view text) {
    out->push_back(u'"');
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out->push_back(u'\\');
            out->push_back(c);
        } else if (c == u'\n') {
            out->append(u"\\n");
        } else if (c == u'\r') {
            out->append(u"\\r");
        } else {
            out->push_back(c);
        }
    }
    out->push_back(u'"');
}

// Text that reads back as the same bytes: one terminator at the end and no line breaks inside.
std::optional<std::u16string> PlainText(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2) return std::nullopt;
    std::u16string text = host::TextOf(data);
    if (text.back() != u'\0') return std::nullopt;
    text.pop_back();
    if (text.find_first_of(u"\0\r\n", 0, 3) != std::u16string::npos) return std::nullopt;
    return text;
}

// Hex data as regedit wraps it: lines of at most 80 characters, continued by a backslash and
// indented by two spaces. `line` is where the entry's line starts in `out`.
void AppendHexData(std::u16string* out, std::size_t line, const std::vector<BYTE>& data) {
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out->push_back(static_cast<char16_t>(digits[data[i] >> 4]));
        out->push_back(static_cast<char16_t>(digits[data[i] & 15]));
        if (i + 1 == data.size()) break;
        out->push_back(u',');
        if (out->size() - line > 76) {
            out->append(u"\\\n  ");
            line = out->size() - 2;
        }
    }
}

void AppendEntry(std::u16string* out, const Value& v) {
    std::size_t line = out->size();
    if (v.name.empty())
        out->push_back(u'@');
    else
        AppendQuoted(out, v.name);
    out->push_back(u'=');
    if (v.type == REG_SZ) {
        if (auto text = PlainText(v.data)) {
            AppendQuoted(out, *text);
            return;
        }
    }
    char buf[32];
    if (v.type == REG_DWORD && v.data.size() == 4) {
        std::snprintf(buf, sizeof buf, "dword:%08" PRIx32, static_cast<std::uint32_t>(*host::DwordOf(v.data)));
        AppendAscii(out, buf);
        return;
    }
    if (v.type == REG_BINARY)
        std::snprintf(buf, sizeof buf, "hex:");
    else
        std::snprintf(buf, sizeof buf, "hex(%" PRIx32 "):", static_cast<std::uint32_t>(v.type));
    AppendAscii(out, buf);
    AppendHexData(out, line, v.data);
}

}  // namespace

void ExportTree(HKEY key, const std::u16string& shown, const std::function<void(std::u16string&)>& emit) {
    std::u16string text = u"[" + shown + u"]\n";
    emit(text);
    ForEachValue(key, shown, [&](const Value& v) {
        text.clear();
        AppendEntry(&text, v);
        text.push_back(u'\n');
        emit(text);
    });
    text = u"\n";
    emit(text);
    for (const auto& s : SubkeyNames(key, shown)) {
        Key child;
        if (OpenSubkey(key, s, shown, &child)) ExportTree(child.get(), shown + u"\\" + s, emit);
    }
}

void AppendRegFileBytes(std::string* bytes, std::u16string_view text) {
    auto put = [bytes](char16_t c) {
        *bytes += static_cast<char>(c & 0xFF);
        *bytes += static_cast<char>(c >> 8);
    };
    for (char16_t c : text) {
        if (c == u'\n') put(u'\r');
        put(c);
    }
}

std::string RegFileBytes(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    bytes.reserve(text.size() * 2 + text.size() / 8);
    AppendRegFileBytes(&bytes, text);
    return bytes;
}

}  // namespace handheld::reg
