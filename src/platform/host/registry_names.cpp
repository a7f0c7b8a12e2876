#include "platform/host/registry_names.h"

namespace host::regdb {
namespace {

// Upper case for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t Fold(char16_t c) {
    auto up = [](int v) { return static_cast<char16_t>(v); };
    if (c < 0x80) return c >= u'a' && c <= u'z' ? up(c - 0x20) : c;
    if (c < 0x100) {
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return up(c - 0x20);
        return c == 0xFF ? u'\u0178' : c;
    }
    if (c < 0x180) {
        if ((c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return up(c & ~1);
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c & 1 ? c : up(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? u'\u03A3' : up(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return up(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return up(c - 0x50);
    return c;
}

}  // namespace

void AppendFolded(std::string* out, std::u16string_view s) {
    for (char16_t c : s) {
        char16_t f = Fold(c);
        out->push_back(static_cast<char>(f >> 8));
        out->push_back(static_cast<char>(f & 0xFF));
    }
}

void AppendComponent(std::string* path, std::u16string_view name) {
    path->push_back('\0');
    path->push_back('\\');
    AppendFolded(path, name);
}

std::string Exact(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::u16string FromExact(const void* p, int n) {
    auto* b = static_cast<const unsigned char*>(p);
    std::u16string out;
    out.reserve(static_cast<std::size_t>(n / 2));
    for (int i = 0; i + 1 < n; i += 2)
        out.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
    return out;
}

std::string RootPath(RegKeyId root) {
    std::string path;
    AppendFolded(&path, kRoots[root - 1].name);
    return path;
}

// Splits a subkey path into names, as Win32 does: no leading '\'; doubled and trailing
// separators name nothing.
LONG Split(std::u16string_view path, std::vector<std::u16string_view>* names) {
    names->clear();
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) names->push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// Why a name cannot be given to a new key; ERROR_SUCCESS when it can.
LONG CheckKeyName(std::u16string_view name) {
    if (name.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    for (char16_t c : name)
        if (c < 0x20) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

LONG CheckValueName(std::u16string_view name) {
    if (name.size() > kMaxValueName || name.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// How many names a folded path holds below its root.
std::size_t Depth(const std::string& path) {
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < path.size(); i += 2)
        n += path[i] == '\0' && path[i + 1] == '\\';
    return n;
}
}  // namespace host::regdb
