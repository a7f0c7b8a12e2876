// A key's tree through the seam's Reg* functions: its subkeys and values, and the reads that fail.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32api.h"

namespace handheld::reg {

class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

// Opens `path` below `root` with every access right.
LONG Open(HKEY root, const std::string& path, Key* key);

// A key that could not be read to its end; what() names it.
class ReadFailure : public std::runtime_error {
public:
    ReadFailure(LONG error, const std::u16string& key);
};

// The names of the subkeys of `key` (shown as `shown`). An error ends the enumeration with a
// ReadFailure, never as if the key had no more subkeys.
std::vector<std::u16string> SubkeyNames(HKEY key, const std::u16string& shown);

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Every value of `key`, in order, one at a time; as SubkeyNames, an error throws ReadFailure.
void ForEachValue(HKEY key, const std::u16string& shown, const std::function<void(const Value&)>& each);
std::vector<Value> Values(HKEY key, const std::u16string& shown);

// A subkey found by the enumeration may be deleted by another program before it is opened.
bool OpenSubkey(HKEY key, const std::u16string& name, const std::u16string& shown, Key* child);

}  // namespace handheld::reg
