// A key's tree through the seam's Reg* functions: its subkeys and values, and the reads that fail.
#include "handheld/reg/reg_tree.h"

#include "handheld/reg/reg_display.h"
#include "handheld/text.h"
#include "platform/host/registry_store.h"

namespace handheld::reg {

LONG Open(HKEY root, const std::string& path, Key* key) {
    return RegOpenKeyEx(root, Utf16(path).c_str(), 0, KEY_ALL_ACCESS, key->out());
}

ReadFailure::ReadFailure(LONG error, const std::u16string& key)
    : std::runtime_error("Cannot read " + Utf8(key) + ": " + ErrorText(error)) {}

std::vector<std::u16string> SubkeyNames(HKEY key, const std::u16string& shown) {
    std::vector<std::u16string> names;
    WCHAR name[host::kMaxKeyName + 1];
    for (DWORD i = 0;; ++i) {
        DWORD size = host::kMaxKeyName + 1;
        LONG r = RegEnumKeyEx(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) return names;
        if (r != ERROR_SUCCESS) throw ReadFailure(r, shown);
        names.emplace_back(name, size);
    }
}

std::vector<Value> Values(HKEY key, const std::u16string& shown) {
    std::vector<Value> values;
    ForEachValue(key, shown, [&](const Value& v) { values.push_back(v); });
    return values;
}

void ForEachValue(HKEY key, const std::u16string& shown, const std::function<void(const Value&)>& each) {
    std::u16string name(host::kMaxValueName + 1, u'\0');
    for (DWORD i = 0;; ++i) {
        Value v;
        LONG r = ERROR_MORE_DATA;
        // Another program may make the data longer between the two calls: then ask again.
        for (int attempt = 0; r == ERROR_MORE_DATA && attempt < 8; ++attempt) {
            auto name_size = static_cast<DWORD>(name.size());
            DWORD type = 0, size = 0;
            r = RegEnumValue(key, i, name.data(), &name_size, nullptr, &type, nullptr, &size);
            if (r != ERROR_SUCCESS) break;
            v.data.resize(size);
            name_size = static_cast<DWORD>(name.size());
            r = RegEnumValue(key, i, name.data(), &name_size, nullptr, &type, size ? v.data.data() : nullptr, &size);
            if (r == ERROR_SUCCESS) {
                v.name.assign(name.data(), name_size);
                v.type = type;
                v.data.resize(size);
            }
        }
        if (r == ERROR_NO_MORE_ITEMS) return;
        if (r != ERROR_SUCCESS) throw ReadFailure(r, shown);
        each(v);
    }
}

bool OpenSubkey(HKEY key, const std::u16string& name, const std::u16string& shown, Key* child) {
    LONG r = RegOpenKeyEx(key, name.c_str(), 0, KEY_ALL_ACCESS, child->out());
    if (r == ERROR_FILE_NOT_FOUND) return false;
    if (r != ERROR_SUCCESS) throw ReadFailure(r, shown + u"\\" + name);
    return true;
}

}  // namespace handheld::reg
