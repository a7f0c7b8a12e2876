// .reg files: a key's tree written as one, and one read back as the changes it asks for.
//
// Files are read and written as UTF-16, so that every name and string goes out and comes back
// exactly as the registry holds it, unpaired surrogates included.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/registry_store.h"
#include "platform/win32api.h"

namespace handheld::reg {

constexpr std::u16string_view kRegHeader = u"Windows Registry Editor Version 5.00";

// Appends the sections of `key` (shown as `shown`) and of every key below it; throws ReadFailure.
void ExportTree(HKEY key, const std::u16string& shown, std::u16string* out);

// UTF-16LE with a byte order mark and CRLF line ends, as reg.exe writes them.
std::string RegFileBytes(const std::u16string& text);

class RegFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file's text, whichever of UTF-16 (by its byte order mark) or UTF-8 it is in; what is neither
// is refused rather than guessed at.
std::u16string DecodeRegFile(const std::string& bytes);

// Every change the file asks for, in order, and the line each comes from; throws RegFileError
// naming the line at fault.
struct RegFile {
    std::vector<host::RegChange> changes;
    std::vector<std::size_t> lines;
};

RegFile ParseRegFile(std::u16string_view text);
// The same, one change at a time as it is read: `each` gets the change and its line, and ends the
// reading by returning false.
void ParseRegFile(std::u16string_view text, const std::function<bool(host::RegChange&&, std::size_t)>& each);

}  // namespace handheld::reg
