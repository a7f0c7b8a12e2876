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

// Gives the sections of `key` (shown as `shown`) and of every key below it to `emit`, a line or
// a few at a time; throws ReadFailure.
void ExportTree(HKEY key, const std::u16string& shown, const std::function<void(std::u16string&)>& emit);

// UTF-16LE with CRLF line ends, as reg.exe writes them; a whole file starts with a byte order mark.
void AppendRegFileBytes(std::string* bytes, std::u16string_view text);
std::string RegFileBytes(const std::u16string& text);

class RegFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Refusals that name their line themselves: the text cannot be decoded, or the file is too large.
class RegFileDecodeError : public RegFileError {
public:
    using RegFileError::RegFileError;
};

class RegFileTooLarge : public RegFileDecodeError {
public:
    using RegFileDecodeError::RegFileDecodeError;
};

// Gives up to `size` bytes of a file into `buffer`; 0 at its end. Throws what it cannot read.
using ReadBytes = std::function<std::size_t(char* buffer, std::size_t size)>;

// A file's lines (without their '\n'), decoded as they are read, whichever of UTF-16 (by its byte
// order mark) or UTF-8 the file is in; what is neither is refused rather than guessed at. Only the
// line being read is held, and no more than `limit` bytes are read in all.
class RegFileLines {
public:
    RegFileLines(ReadBytes read, std::size_t limit);
    // The next line; false past the last. Throws RegFileDecodeError naming the line, or
    // RegFileTooLarge; what `read` throws goes through.
    bool Next(std::u16string* line);
    std::size_t number() const { return number_; }  // of the line Next gave last

private:
    void Start();  // reads the byte order mark, if any
    bool Fill();   // reads on; false at the file's end

    enum class Coding { kUtf8, kUtf16Le, kUtf16Be };
    ReadBytes read_;
    std::size_t limit_;
    std::size_t total_ = 0;
    Coding coding_ = Coding::kUtf8;
    std::vector<char> chunk_;  // what one read gives
    std::string buffer_;       // what is read and not yet taken, from at_
    std::size_t at_ = 0;
    std::string utf8_;  // the line being read
    std::size_t number_ = 0;
    bool done_ = false;
};

// The whole text of a file held in memory, decoded as RegFileLines decodes it.
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
using EachChange = std::function<bool(host::RegChange&&, std::size_t)>;
void ParseRegFile(std::u16string_view text, const EachChange& each);
void ParseRegFile(RegFileLines& lines, const EachChange& each);

}  // namespace handheld::reg
