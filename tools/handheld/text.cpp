#include "handheld/text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/host/trace.h"

namespace handheld {

std::u16string Utf16(const std::string& utf8) { return host::json::Utf16(utf8); }

std::string Utf8(const std::u16string& text) { return host::json::Utf8(text); }

std::optional<std::u16string> Utf16Exact(const std::string& utf8) {
    // The decoder stands U+FFFD for what it cannot read, which then encodes differently.
    std::u16string text = Utf16(utf8);
    if (Utf8(text) != utf8) return std::nullopt;
    return text;
}

std::optional<std::string> ReadBounded(const std::string& path, std::size_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > limit) {
            int error = n < 0 ? errno : EFBIG;
            close(fd);
            errno = error;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return bytes;
}

bool AsksForHelp(int argc, char** argv) {
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

}  // namespace handheld
