#include "handheld/text.h"

#include <cstring>

#include "platform/host/trace.h"

namespace handheld {

std::u16string Utf16(const std::string& utf8) { return host::json::Utf16(utf8); }

std::string Utf8(const std::u16string& text) { return host::json::Utf8(text); }

bool AsksForHelp(int argc, char** argv) {
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

}  // namespace handheld
