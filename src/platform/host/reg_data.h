// Registry data as the handheld keeps it: a REG_DWORD is four bytes, least significant first;
// text is 16-bit characters, least significant byte first, a REG_SZ ending in one null. The one
// codec for everybody on the host side who reads or writes values as bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/seam.h"

namespace host {

// The number four bytes hold; empty for any other size.
std::optional<DWORD> DwordOf(const void* data, std::size_t size);
std::vector<BYTE> DwordData(DWORD value);

// Every whole character the bytes hold (an odd last byte is none), nulls included.
std::u16string TextOf(const void* data, std::size_t size);
// The string a REG_SZ holds: the text up to its first null.
std::u16string StringOf(const std::vector<BYTE>& data);
// The text's bytes, without a terminating null; StringData adds one, as a REG_SZ has it.
std::vector<BYTE> TextData(std::u16string_view text);
std::vector<BYTE> StringData(std::u16string_view text);

inline std::optional<DWORD> DwordOf(const std::vector<BYTE>& data) { return DwordOf(data.data(), data.size()); }
inline std::u16string TextOf(const std::vector<BYTE>& data) { return TextOf(data.data(), data.size()); }

}  // namespace host
