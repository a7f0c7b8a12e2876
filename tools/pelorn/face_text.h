// UTF-8 text in the frame's cells, one code point a cell.
#pragma once

#include <string>

namespace pelorn {

// The code points of `s`; a byte that starts no whole character becomes '?'.
std::u32string Decode(const std::string& s);
void Encode(char32_t c, std::string& out);
// The cells `utf8` takes.
int Width(const std::string& utf8);

}  // namespace pelorn
