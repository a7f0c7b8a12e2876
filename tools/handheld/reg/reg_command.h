// `reg add|delete|query|export|import` in reg.exe's syntax, on the registry of the handheld
// switched on in this process (through the seam's Reg* functions, as any program on the device
// would).
//
//   reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve | /va] [/f]
//   reg query KEY [/v NAME | /ve] [/s]
//   reg export KEY FILE [/y]
//   reg import FILE [/f]
//
// KEY is ROOT\PATH with ROOT one of HKLM, HKCU, HKCR, HKU or their full names. TYPE is REG_SZ (the
// default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE; a number
// is decimal or hex after 0x, without a sign; binary data is hex digits, and the items of
// REG_MULTI_SZ are separated by SEPARATOR (default \0). Names the registry would not create (a
// key name over 255 characters or with a control character, a key over 512 levels deep, a value
// name over 16383 characters) and text that is not UTF-8 are refused. The command line asks
// before it overwrites or deletes (reg.cpp); /f, and /y for export, say not to. Deleting a tree
// or all the values of a key is one change: all of it happens, or none.
//
// FILE is a .reg file: "Windows Registry Editor Version 5.00", then [ROOT\PATH] sections of
// "name"=... lines (@ for the default value): "text" with \\ and \" escapes (and \n and \r for
// the line breaks a value name may hold), dword:0000001e, hex:01,02 for REG_BINARY, hex(N):... for
// any other type; [-KEY] and "name"=- delete. Export writes the key and everything below it as
// UTF-16LE with a byte order mark and CRLF lines, and imports back as the same names and data;
// an enumeration that fails is an error, not an end. Import also reads UTF-8 and is one change:
// a file with a line that is bad or that the registry refuses changes nothing and is reported
// with that line.
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
    enum class Operation { kAdd, kDelete, kQuery, kExport, kImport };
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
    std::string file;                  // export, import
    bool force = false;                // /f, or export /y: nobody is asked
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
