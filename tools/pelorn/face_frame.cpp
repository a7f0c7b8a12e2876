// The character frame: cells with their colours and what a click on each does, and text in them.
#include <algorithm>

#include "pelorn/face.h"
#include "pelorn/face_text.h"
#include "platform/host/trace.h"

namespace pelorn {

Frame::Frame(int cols, int rows)
    : cols_(std::max(cols, 0)),
      rows_(std::max(rows, 0)),
      cells_(static_cast<std::size_t>(cols_) * rows_),
      hits_(cells_.size()) {}

namespace {

// The first row filled cell by cell, the others copied from it in one move each: filling every
// cell by itself costs a redraw a tenth of its time.
template <class T>
void Blank(std::vector<T>& cells, int cols) {
    std::size_t row = std::min<std::size_t>(static_cast<std::size_t>(cols), cells.size());
    std::fill_n(cells.begin(), row, T{});
    for (std::size_t at = row; at < cells.size(); at += row)
        std::copy_n(cells.begin(), std::min(row, cells.size() - at), cells.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

void Frame::Clear() {
    Blank(cells_, cols_);
    Blank(hits_, cols_);
    screen_col = screen_row = screen_cols = screen_rows = 0;
    scale = 0;
    too_small = false;
}

std::u32string Decode(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool whole = extra >= 0 && i + extra < s.size();
        char32_t cp = extra <= 0 ? c : c & (0x3F >> extra);
        for (int k = 1; whole && k <= extra; ++k) {
            unsigned char more = static_cast<unsigned char>(s[i + k]);
            whole = (more & 0xC0) == 0x80;
            cp = (cp << 6) | (more & 0x3F);
        }
        // Overlong forms, surrogates and numbers past U+10FFFF are no characters either.
        static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (!whole || cp < kLeast[extra] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) {
            out += U'?';
            ++i;
            continue;
        }
        out += cp;
        i += extra + 1;
    }
    return out;
}

void Encode(char32_t c, std::string& out) { host::json::AppendUtf8(c, out); }

int Width(const std::string& utf8) { return static_cast<int>(Decode(utf8).size()); }

void Frame::Put(int col, int row, const std::string& utf8, Rgb fg, Rgb bg, bool bold, int right) {
    if (right < 0 || right > cols_) right = cols_;
    for (char32_t c : Decode(utf8)) {
        if (col >= right) break;
        if (Inside(col, row)) {
            Cell& cell = At(col, row);
            cell = Cell{c, fg, bg, bold, false};
        }
        ++col;
    }
}

std::string Frame::Line(int row) const {
    std::string out;
    int end = cols_;
    while (end > 0 && At(end - 1, row).ch == U' ')
        --end;
    for (int c = 0; c < end; ++c)
        Encode(At(c, row).ch, out);
    return out;
}

std::string Frame::Text() const {
    std::string out;
    for (int r = 0; r < rows_; ++r)
        out += Line(r) + "\n";
    return out;
}

}  // namespace pelorn
