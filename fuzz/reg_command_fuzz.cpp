// Fuzzes reg's command line: the input is the words after "reg", separated by NUL as a program's
// arguments are. They are either refused with a RegSyntaxError, or make a command whose key reads
// back as itself and whose /d data gives bytes of the type's shape, or a message saying why not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "handheld/reg/reg_command.h"
#include "handheld/reg/reg_syntax.h"
#include "handheld/text.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = std::min(text.find('\0', at), text.size());
        args.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (text.empty()) args.clear();
    handheld::RegCommand c;
    try {
        c = handheld::ParseRegCommand(args);
    } catch (const handheld::RegSyntaxError&) {
        return 0;
    }
    using Op = handheld::RegCommand::Operation;
    if (c.operation == Op::kImport) return 0;

    // The key as printed names the same key.
    handheld::reg::KeyName key = handheld::reg::SplitKey(handheld::Utf16(c.key));
    if (key.root != c.root || handheld::Utf8(key.path) != c.path || handheld::Utf8(key.shown) != c.key)
        Fail("the key as printed is another key: " + c.key);
    if (c.operation != Op::kAdd || !c.value) return 0;

    std::string problem;
    std::vector<BYTE> bytes = handheld::reg::Encode(c, &problem);
    if (!problem.empty()) {
        if (!bytes.empty()) Fail("bytes beside a problem");
        return 0;
    }
    std::size_t n = bytes.size();
    bool shaped = true;
    switch (c.type) {
        case REG_DWORD:
            shaped = n == 4;
            break;
        case handheld::reg::kRegQword:
            shaped = n == 8;
            break;
        case REG_BINARY:
        case REG_NONE:
            shaped = n == c.data.size() / 2;
            break;
        case REG_MULTI_SZ:
            shaped = n >= 2 && n % 2 == 0 && bytes[n - 1] == 0 && bytes[n - 2] == 0 &&
                     (n == 2 || (n >= 4 && bytes[n - 3] == 0 && bytes[n - 4] == 0));
            break;
        default:
            shaped = n >= 2 && n % 2 == 0 && bytes[n - 1] == 0 && bytes[n - 2] == 0;
    }
    if (!shaped) Fail("data of " + std::to_string(n) + " bytes for " + handheld::reg::TypeText(c.type));
    return 0;
}
