// `reg add|delete|query` in reg.exe's syntax, on the registry of the handheld switched on in this
// process (through the seam's Reg* functions, as any program on the device would).
//
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg query KEY [/v NAME | /ve] [/s]
//
// KEY is ROOT\PATH with ROOT one of HKLM, HKCU, HKCR, HKU or their full names. TYPE is REG_SZ (the
// default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE; a number
// may be decimal or 0x hex, binary data is hex digits, and the items of REG_MULTI_SZ are separated
// by SEPARATOR (default \0). Nobody is asked before something is overwritten or deleted: /f is
// accepted and changes nothing.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32api.h"

namespace handheld {

// The arguments do not make a reg command; what() says why, as one line.
class RegSyntaxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RegCommand {
    enum class Operation { kAdd, kDelete, kQuery };
    Operation operation = Operation::kQuery;
    HKEY root = nullptr;
    std::string key;                   // as it is printed: the root's full name, '\', the path
    std::string path;                  // below the root, separators tidied; empty for the root
    std::optional<std::string> value;  // /v NAME, or "" for /ve
    bool all_values = false;           // delete /va
    bool recurse = false;              // query /s
    DWORD type = REG_SZ;               // add /t
    std::string data;                  // add /d
    std::string separator = "\\0";     // add /s
};

struct RegOutcome {
    int exit_code = 0;  // 0 done, 1 failed, as reg.exe
    std::string out;    // what reg.exe prints on its standard output
    std::string err;    // and on its error output
};

// `args` are the words after "reg". Throws RegSyntaxError.
RegCommand ParseRegCommand(const std::vector<std::string>& args);
RegOutcome RunRegCommand(const RegCommand& command);

// The usage lines, for --help and syntax errors.
const char* RegUsage();

}  // namespace handheld
