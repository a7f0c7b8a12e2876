// Text between the command line (UTF-8) and the handheld (16-bit WCHAR).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace handheld {

std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& text);

// `utf8` as UTF-16 when it is well-formed UTF-8; nothing when it is not, rather than a guess.
std::optional<std::u16string> Utf16Exact(const std::string& utf8);

// The bytes of the file at `path`; nothing when it cannot be read, errno saying why: EFBIG when
// it holds more than `limit` bytes (as /dev/zero does), so that no file can take all the memory.
std::optional<std::string> ReadBounded(const std::string& path, std::size_t limit);

// A subcommand called with --help (or -h) alone.
bool AsksForHelp(int argc, char** argv);

}  // namespace handheld
