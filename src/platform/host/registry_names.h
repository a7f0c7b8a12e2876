// How the registry's file names keys: the roots, the keys every handheld has, and names kept
// twice, as given (UTF-16LE, byte for byte) and folded (upper case, UTF-16BE, so that byte order
// is character order) to look up and to sort by. A key's folded path runs from its root's name
// down, with "\0\\" before each name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/registry_store.h"

namespace host::regdb {

struct RootKey {
    std::uint32_t hkey;
    RegKeyId id;
    std::u16string_view name;
};
constexpr RootKey kRoots[] = {
    {0x80000000u, 1, u"HKEY_CLASSES_ROOT"},
    {0x80000001u, 2, u"HKEY_CURRENT_USER"},
    {0x80000002u, 3, u"HKEY_LOCAL_MACHINE"},
    {0x80000003u, 4, u"HKEY_USERS"},
};
constexpr RegKeyId kLastRoot = 4;

// What a handheld holds before the system first runs; the system opens these, never creates.
struct SystemKey {
    RegKeyId root;
    std::u16string_view path;
};
constexpr SystemKey kSystemKeys[] = {
    {2, u"Software\\MicroSoft\\Shell"},
    {2, u"ControlPanel\\Backlight"},
    {3, u"System\\CurrentControlSet\\Control\\Power\\Timeouts"},
};

// Appends `s` folded.
void AppendFolded(std::string* out, std::u16string_view s);

// Appends one name, folded, to a folded path.
void AppendComponent(std::string* path, std::u16string_view name);

std::string Exact(std::u16string_view s);

std::u16string FromExact(const void* p, int n);

std::string RootPath(RegKeyId root);

// Splits a subkey path into names, as Win32 does: no leading '\'; doubled and trailing
// separators name nothing.
LONG Split(std::u16string_view path, std::vector<std::u16string_view>* names);

// Why a name cannot be given to a new key; ERROR_SUCCESS when it can.
LONG CheckKeyName(std::u16string_view name);

LONG CheckValueName(std::u16string_view name);

// How many names a folded path holds below its root.
std::size_t Depth(const std::string& path);

}  // namespace host::regdb
