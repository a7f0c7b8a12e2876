// Text between the command line (UTF-8) and the handheld (16-bit WCHAR).
#pragma once

#include <string>

namespace handheld {

std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& text);

// A subcommand called with --help (or -h) alone.
bool AsksForHelp(int argc, char** argv);

}  // namespace handheld
