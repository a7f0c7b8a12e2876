// The renderer: a FaceState drawn as a Frame of cells, with no terminal involved.
#include <algorithm>
#include <cmath>

#include "common/device_words.h"
#include "pelorn/face.h"
#include "pelorn/face_text.h"
#include "platform/host/shell.h"

namespace pelorn {

bool FaceState::operator==(const FaceState& o) const {
    return static_cast<const tools::DeviceView&>(*this) == o && selected == o.selected && com1_sent == o.com1_sent &&
           com1_received == o.com1_received && note == o.note && state_chg_read == o.state_chg_read && help == o.help;
}

const std::vector<FaceKey>& FaceKeys() {
    static const std::vector<FaceKey> keys = {
        {"t", "tap"},    {"↑↓ Enter", "choose, OK"}, {"Esc", "dismiss"},   {"a", "AC line"},
        {"p", "pin 38"}, {"c", "State_Chg"},         {"s h", "show hide"}, {"r", "reset"},
        {"i", "about"},  {"x q", "close"},           {"^L", "redraw"},     {"?", "keys"},
    };
    return keys;
}

namespace {

const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kDesktop{20, 84, 120};
const Rgb kTaskbar{192, 192, 192};
const Rgb kTrayArea{168, 168, 168};
const Rgb kBezel{56, 56, 64};
const Rgb kWindow{212, 208, 200};
const Rgb kMenu{240, 240, 240};
const Rgb kTitle{0, 0, 128};
const Rgb kPanel{0, 0, 0};
const Rgb kPanelText{210, 210, 210};
const Rgb kLabel{140, 160, 180};
const Rgb kOn{120, 230, 120};
const Rgb kOff{230, 110, 110};

constexpr int kPanelCols = 40;
constexpr double kMaxScale = 8;  // coarser, and the menu's items would share rows

Rgb Over(std::uint32_t argb, Rgb under) {
    unsigned a = argb >> 24;
    auto mix = [a](unsigned top, unsigned bottom) {
        return static_cast<std::uint8_t>((top * a + bottom * (255 - a)) / 255);
    };
    return Rgb{mix((argb >> 16) & 255, under.r), mix((argb >> 8) & 255, under.g), mix(argb & 255, under.b)};
}

Rgb Dim(Rgb c, double f) {
    // Rounded half up, as lround rounds a value that cannot be negative, without its call.
    auto d = [f](std::uint8_t v) { return static_cast<std::uint8_t>(v * f + 0.5); };
    return Rgb{d(c.r), d(c.g), d(c.b)};
}

// What each key does in full, for the help box.
const char* const kKeyHelp[] = {
    "t        tap the tray icon: the system opens its menu",
    "↑ ↓      move in the menu; Enter or Space chooses",
    "Esc      dismiss the menu",
    "Enter    press OK in a message box or dialog (also Space, o, Esc)",
    "a        AC line: battery <-> online",
    "p        pin 38: the hardware holds it high, low, lets go",
    "c        set State_Chg to 1, as another program would",
    "s h      send show, hide (0x0401, 0x0402)",
    "r        send reset (0x0403): the reset sentence on COM1",
    "i        send about: the About box",
    "x q      send close (WM_CLOSE): Pelorn ends",
    "Ctrl-L   draw the terminal anew",
    "mouse    click the icon, a menu item, OK",
    "?        this help; any key closes it",
};

std::vector<std::string> HelpLines(int cols) {
    std::vector<std::string> lines;
    std::string line;
    for (const FaceKey& k : FaceKeys()) {
        const std::string key = std::string(k.key) + " " + k.does;
        std::string next = line.empty() ? " " + key : line + "  " + key;
        if (Width(next) > cols && !line.empty()) {
            lines.push_back(line);
            next = std::string(" ") + key;
        }
        line = next;
    }
    lines.push_back(line);
    return lines;
}

std::vector<std::string> Wrap(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string para = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        std::string line;
        std::size_t i = 0;
        while (i <= para.size()) {
            std::size_t sp = para.find(' ', i);
            std::string word = para.substr(i, sp == std::string::npos ? std::string::npos : sp - i);
            if (!line.empty() && Width(line) + 1 + Width(word) > width) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
            if (sp == std::string::npos) break;
            i = sp + 1;
        }
        lines.push_back(line);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

// The screen as a grid of square pixels, two per cell, before it becomes cells.
class Canvas {
public:
    Canvas(int cols, int rows) : cols_(cols), rows_(rows * 2), px_(cols_ * rows_), picture_(px_.size()) {}
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < cols_ && y < rows_; }
    void Set(int x, int y, Rgb c, bool picture) {
        if (!Inside(x, y)) return;
        px_[y * cols_ + x] = c;
        picture_[y * cols_ + x] = picture;
    }
    Rgb Get(int x, int y) const { return px_[y * cols_ + x]; }
    bool Picture(int x, int y) const { return picture_[y * cols_ + x]; }

private:
    int cols_, rows_;
    std::vector<Rgb> px_;
    std::vector<bool> picture_;
};

// Draws `picture` with its top-left corner at canvas pixel (x0, y0), `n` by `n` samples. Each
// sample is taken from the middle of its part of the picture, so at any scale the top-left
// sample falls in the corner where the icons carry their colour.
void Sprite(Canvas& canvas, const host::IconImage& picture, int x0, int y0, int n, Rgb under) {
    if (picture.width <= 0 || picture.height <= 0) return;
    for (int b = 0; b < n; ++b)
        for (int a = 0; a < n; ++a) {
            int px = static_cast<int>((a + 0.5) * picture.width / n);
            int py = static_cast<int>((b + 0.5) * picture.height / n);
            std::uint32_t argb = picture.At(px, py);
            if (argb >> 24) canvas.Set(x0 + a, y0 + b, Over(argb, under), true);
        }
}

class Renderer {
public:
    Renderer(const FaceState& s, Frame& f) : s_(s), f_(f) {}

    void Draw() {
        std::vector<std::string> help = HelpLines(f_.cols());
        int help_rows = static_cast<int>(help.size());
        int avail_cols = f_.cols() - kPanelCols - 3;
        int avail_rows = f_.rows() - help_rows - 2;
        double scale = std::max({1.0, kScreenW / std::max(avail_cols, 1), kScreenH / (2.0 * std::max(avail_rows, 1))});
        if (f_.cols() < kMinCols || f_.rows() < kMinRows || avail_cols <= 0 || avail_rows <= 0 || scale > kMaxScale) {
            TooSmall();
            return;
        }
        f_.scale = scale;
        f_.screen_col = 1;
        f_.screen_row = 1;
        f_.screen_cols = static_cast<int>(std::ceil(kScreenW / scale - 1e-9));
        f_.screen_rows = static_cast<int>(std::ceil(kScreenH / (2 * scale) - 1e-9));
        for (int r = 0; r < f_.rows(); ++r)
            for (int c = 0; c < f_.cols(); ++c)
                f_.At(c, r) = Cell{U' ', kPanelText, kPanel};
        Bezel();
        Screen();
        Panel(f_.screen_col + f_.screen_cols + 2, f_.rows() - help_rows);
        for (int i = 0; i < help_rows; ++i)
            f_.Put(0, f_.rows() - help_rows + i, help[i], kBlack, kTaskbar);
        for (int i = 0; i < help_rows; ++i)
            for (int c = Width(help[i]); c < f_.cols(); ++c)
                f_.At(c, f_.rows() - help_rows + i).bg = kTaskbar;
        if (s_.help) HelpBox();
    }

private:
    static constexpr double kScreenW = host::kScreenWidth;
    static constexpr double kScreenH = host::kScreenHeight;

    int Col(double x) const { return static_cast<int>(std::floor(x / f_.scale)); }
    int Row(double y) const { return static_cast<int>(std::floor(y / (2 * f_.scale))); }
    int HalfRow(double y) const { return static_cast<int>(std::floor(y / f_.scale)); }
    // The screen point a cell of the screen stands for: its middle.
    int X(int col) const { return static_cast<int>((col + 0.5) * f_.scale); }
    int Y(int row) const { return static_cast<int>((row + 0.5) * 2 * f_.scale); }

    Cell& ScreenCell(int col, int row) { return f_.At(f_.screen_col + col, f_.screen_row + row); }
    bool OnScreen(int col, int row) const {
        return col >= 0 && row >= 0 && col < f_.screen_cols && row < f_.screen_rows;
    }
    void PutOnScreen(int col, int row, const std::string& text, Rgb fg, Rgb bg, bool bold, int right) {
        if (row < 0 || row >= f_.screen_rows) return;
        int start = std::max(col, 0);
        std::u32string chars = Decode(text);
        std::string clipped;
        for (std::size_t i = static_cast<std::size_t>(start - col); i < chars.size(); ++i)
            Encode(chars[i], clipped);
        f_.Put(f_.screen_col + start, f_.screen_row + row, clipped, fg, bg, bold,
               f_.screen_col + std::min(right, f_.screen_cols));
    }
    void Fill(int c0, int r0, int c1, int r1, Rgb bg) {
        for (int r = std::max(r0, 0); r <= std::min(r1, f_.screen_rows - 1); ++r)
            for (int c = std::max(c0, 0); c <= std::min(c1, f_.screen_cols - 1); ++c)
                ScreenCell(c, r) = Cell{U' ', kBlack, bg};
    }
    void SetHit(int c, int r, Hit h) {
        if (OnScreen(c, r)) f_.HitAt(f_.screen_col + c, f_.screen_row + r) = h;
    }

    // Every key in full, over the screen and panel, until the next key.
    void HelpBox() {
        int width = 0;
        for (const char* line : kKeyHelp)
            width = std::max(width, Width(line));
        width += 4;
        const int height = static_cast<int>(std::size(kKeyHelp)) + 4;
        const int left = std::max(0, (f_.cols() - width) / 2), top = std::max(0, (f_.rows() - height) / 2);
        for (int r = top; r < std::min(f_.rows(), top + height); ++r)
            for (int c = left; c < std::min(f_.cols(), left + width); ++c) {
                f_.At(c, r) = Cell{U' ', kBlack, kWindow};
                f_.HitAt(c, r) = Hit{};
            }
        f_.Put(left, top, " Keys", kWhite, kTitle, true, left + width);
        for (int c = left + 5; c < std::min(f_.cols(), left + width); ++c)
            f_.At(c, top).bg = kTitle;
        for (std::size_t i = 0; i < std::size(kKeyHelp); ++i)
            f_.Put(left + 2, top + 2 + static_cast<int>(i), kKeyHelp[i], kBlack, kWindow, false, left + width);
    }

    void TooSmall() {
        f_.too_small = true;
        std::vector<std::string> lines = {"The terminal is too small for the handheld's face.",
                                          "It needs " + std::to_string(kMinCols) + " x " + std::to_string(kMinRows) +
                                              " cells and has " + std::to_string(f_.cols()) + " x " +
                                              std::to_string(f_.rows()) + ".",
                                          "Make it larger; x closes Pelorn."};
        int row = std::max(0, (f_.rows() - 3) / 2);
        for (const std::string& text : lines)
            for (const std::string& l : Wrap(text, std::max(f_.cols(), 1)))
                f_.Put(0, row++, l, kPanelText, kPanel);
    }

    void Bezel() {
        int c0 = f_.screen_col - 1, r0 = f_.screen_row - 1;
        int c1 = f_.screen_col + f_.screen_cols, r1 = f_.screen_row + f_.screen_rows;
        for (int c = c0; c <= c1; ++c) {
            f_.At(c, r0) = Cell{c == c0 ? U'╭' : c == c1 ? U'╮' : U'─', kLabel, kPanel};
            f_.At(c, r1) = Cell{c == c0 ? U'╰' : c == c1 ? U'╯' : U'─', kLabel, kPanel};
        }
        for (int r = r0 + 1; r < r1; ++r) {
            f_.At(c0, r) = Cell{U'│', kLabel, kPanel};
            f_.At(c1, r) = Cell{U'│', kLabel, kPanel};
        }
    }

    void Screen() {
        const int w = f_.screen_cols, h = f_.screen_rows;
        Canvas canvas(w, h);
        const double taskbar_top = kScreenH - host::kTaskbarHeight;
        double tray_left = kScreenW;
        for (const auto& icon : s_.tray)
            tray_left = std::min<double>(tray_left, icon.rect.left - 3);
        // The tray area starts on a cell's top edge: a half-block row of grey on grey says nothing.
        const int tray_top = (HalfRow(taskbar_top) + 2) / 2 * 2;
        for (int y = 0; y < h * 2; ++y)
            for (int x = 0; x < w; ++x) {
                double px = (x + 0.5) * f_.scale, py = (y + 0.5) * f_.scale;
                Rgb c = kDesktop;
                if (px >= kScreenW || py >= kScreenH)
                    c = kBezel;
                else if (py >= taskbar_top)
                    c = (px >= tray_left && y >= tray_top) ? kTrayArea : kTaskbar;
                canvas.Set(x, y, c, false);
            }
        const bool menu_top = !s_.modals.empty() && s_.modals.back().kind == host::Modal::Kind::kMenu;
        for (const auto& icon : s_.tray) {
            int n = std::max(2, static_cast<int>(std::lround((icon.rect.right - icon.rect.left) / f_.scale)));
            int x0 = Col(icon.rect.left), y0 = HalfRow(icon.rect.top);
            Sprite(canvas, icon.picture, x0, y0, n, kTrayArea);
            if (menu_top) continue;
            for (int r = y0 / 2; r <= (y0 + n - 1) / 2; ++r)
                for (int c = x0; c < x0 + n; ++c) {
                    Hit hit{Hit::Kind::kTray, icon.window, icon.id,
                            // Inside the icon, and a pixel clear of its left edge: the menu, which
                            // ends left of the tap, then ends in the tap's column.
                            std::clamp<int>(X(c), icon.rect.left + 1, icon.rect.right - 1),
                            std::clamp<int>(Y(r), icon.rect.top, icon.rect.bottom - 1)};
                    SetHit(c, r, hit);
                }
        }
        Cells(canvas, 0, 0, w - 1, h - 1);

        for (std::size_t i = 0; i < s_.modals.size(); ++i) {
            const FaceState::Modal& m = s_.modals[i];
            bool innermost = i + 1 == s_.modals.size();
            switch (m.kind) {
                case host::Modal::Kind::kMenu:
                    Menu(m, innermost);
                    break;
                case host::Modal::Kind::kMessageBox:
                    Box(m, innermost);
                    break;
                case host::Modal::Kind::kDialog:
                    Dialog(m, innermost);
                    break;
            }
        }

        if (s_.backlight_present && s_.backlight_level < 10) {  // at 10 the screen is as bright as it gets
            double f = 0.3 + 0.7 * std::min<DWORD>(s_.backlight_level, 10) / 10.0;
            for (int r = 0; r < h; ++r)
                for (int c = 0; c < w; ++c) {
                    Cell& cell = ScreenCell(c, r);
                    cell.fg = Dim(cell.fg, f);
                    cell.bg = Dim(cell.bg, f);
                }
        }
    }

    // Turns the canvas's pixels in the cells (c0, r0)..(c1, r1) into half blocks.
    void Cells(const Canvas& canvas, int c0, int r0, int c1, int r1) {
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                if (!canvas.Inside(c, 2 * r + 1)) continue;
                Rgb top = canvas.Get(c, 2 * r), bottom = canvas.Get(c, 2 * r + 1);
                bool picture = canvas.Picture(c, 2 * r) || canvas.Picture(c, 2 * r + 1);
                Cell& cell = ScreenCell(c, r);
                if (top == bottom && !picture)
                    cell = Cell{U' ', kBlack, top};
                else
                    cell = Cell{U'▀', top, bottom, false, picture};
            }
    }

    void Menu(const FaceState::Modal& m, bool innermost) {
        int right = Col(m.rect.right - 1), left = Col(m.rect.left);
        int top = Row(m.rect.top), bottom = Row(m.rect.bottom - 1);
        int longest = 0;
        for (const auto& item : m.items)
            longest = std::max(longest, Width(item.text));
        left = std::min(left, right - (longest + 4) + 1);
        if (left < 0) {
            right -= left;
            left = 0;
        }
        std::vector<int> rows;
        int previous = top - 1;
        for (const auto& item : m.items) {
            int row = std::max(Row((item.rect.top + item.rect.bottom) / 2.0), previous + 1);
            rows.push_back(row);
            previous = row;
        }
        if (!rows.empty() && rows.back() > bottom) {
            top -= rows.back() - bottom;
            for (int& r : rows)
                r -= rows.back() - bottom;
        }
        const int first = std::min(top, rows.empty() ? top : rows.front());
        if (innermost)
            for (int r = 0; r < f_.screen_rows; ++r)
                for (int c = 0; c < f_.screen_cols; ++c)
                    SetHit(c, r,
                           r >= first && r <= bottom && c >= left && c <= right ? Hit{} : Hit{Hit::Kind::kBesideMenu});
        Fill(left, first, right, bottom, kMenu);
        for (std::size_t i = 0; i < m.items.size(); ++i) {
            const auto& item = m.items[i];
            int row = rows[i];
            if (item.separator) {
                for (int c = left + 1; c < right; ++c)
                    if (OnScreen(c, row)) ScreenCell(c, row) = Cell{U'─', Rgb{128, 128, 128}, kMenu};
                continue;
            }
            bool selected = innermost && static_cast<int>(i) == s_.selected;
            Rgb bg = selected ? kTitle : kMenu;
            Rgb fg = item.grayed ? Rgb{128, 128, 128} : selected ? kWhite : kBlack;
            Fill(left, row, right, row, bg);
            PutOnScreen(left + 1, row, (item.checked ? "✓ " : "  ") + item.text, fg, bg, false, right + 1);
            if (innermost && !item.grayed)
                for (int c = left; c <= right; ++c)
                    SetHit(c, row, Hit{Hit::Kind::kMenuItem, nullptr, item.id});
        }
    }

    void CaptionBar(int left, int right, int row, const std::string& caption, bool ok, bool innermost) {
        Fill(left, row, right, row, kTitle);
        PutOnScreen(left + 1, row, caption, kWhite, kTitle, true, right + (ok ? -3 : 1));
        if (!ok) return;
        PutOnScreen(right - 2, row, "OK", kBlack, kWindow, true, right + 1);
        if (innermost)
            for (int c = right - 2; c <= right - 1; ++c)
                SetHit(c, row, Hit{Hit::Kind::kOk});
    }

    void Box(const FaceState::Modal& m, bool innermost) {
        int width = std::min(f_.screen_cols - 2, std::max(Col(m.rect.right) - Col(m.rect.left), 14));
        std::vector<std::string> lines = Wrap(m.text, width - 4);
        for (const std::string& l : lines)
            width = std::max(width, std::min(f_.screen_cols, Width(l) + 4));
        int height = static_cast<int>(lines.size()) + 5;
        int work_rows = Row(kScreenH - host::kTaskbarHeight - 1) + 1;
        int left = (f_.screen_cols - width) / 2, top = std::max(0, (work_rows - height) / 2);
        int right = left + width - 1;
        Fill(left, top, right, top + height - 1, kWindow);
        CaptionBar(left, right, top, m.caption, false, innermost);
        for (std::size_t i = 0; i < lines.size(); ++i)
            PutOnScreen(left + 2, top + 2 + static_cast<int>(i), lines[i], kBlack, kWindow, false, right - 1);
        int ok_row = top + height - 2, ok_col = left + (width - 6) / 2;
        PutOnScreen(ok_col, ok_row, "[ OK ]", kBlack, kWhite, true, right);
        if (innermost)
            for (int c = ok_col; c < ok_col + 6; ++c)
                SetHit(c, ok_row, Hit{Hit::Kind::kOk});
    }

    void Dialog(const FaceState::Modal& m, bool innermost) {
        int left = Col(m.rect.left), right = std::max(Col(m.rect.right - 1), left + Width(m.caption) + 5);
        int top = Row(m.rect.top), bottom = std::max(Row(m.rect.bottom - 1), top + 2);
        Fill(left, top, right, bottom, kWindow);
        CaptionBar(left, right, top, m.caption, true, innermost);
        Canvas canvas(f_.screen_cols, f_.screen_rows);
        bool icons = false;
        for (const auto& control : m.controls) {
            if (control.icon.width > 0) {
                for (int y = 2 * (top + 1); y <= 2 * bottom + 1; ++y)
                    for (int x = left; x <= right; ++x)
                        canvas.Set(x, y, kWindow, false);
                int n = std::max(2, static_cast<int>(std::lround((control.rect.right - control.rect.left) / f_.scale)));
                Sprite(canvas, control.icon, Col(control.rect.left), std::max(HalfRow(control.rect.top), 2 * (top + 1)),
                       n, kWindow);
                icons = true;
            }
        }
        if (icons) Cells(canvas, left, top + 1, right, bottom);
        int previous = top;
        for (const auto& control : m.controls) {
            if (control.text.empty()) continue;
            int row = std::max(Row((control.rect.top + control.rect.bottom) / 2.0), previous + 1);
            PutOnScreen(Col(control.rect.left), row, control.text, kBlack, kWindow, false, right);
            previous = row;
        }
    }

    void Panel(int col, int rows) {
        int row = 0;
        auto line = [&](const std::string& label, const std::string& value, Rgb colour = kPanelText) {
            if (row >= rows - 1) return;
            f_.Put(col, row, label, kLabel, kPanel);
            f_.Put(std::max(col + 20, col + Width(label) + 1), row, value, colour, kPanel);
            ++row;
        };
        f_.Put(col, row++, "Pelorn on the virtual handheld", kWhite, kPanel, true);
        ++row;
        line("tray icon", s_.tray.empty() ? std::string("none") : tools::IconWords(s_.tray.front().resource));
        auto level = [](bool high) { return std::string(high ? "high" : "low"); };
        line("pin 21", level(s_.pin21), s_.pin21 ? kOn : kOff);
        line("pin 38", level(s_.pin38), s_.pin38 ? kOn : kOff);
        line("pin 38 hardware",
             s_.pin38_hardware ? std::string("holds it ") + level(*s_.pin38_hardware) : std::string("leaves it alone"));
        line("AC line", s_.ac_line == AC_LINE_ONLINE    ? "online"
                        : s_.ac_line == AC_LINE_OFFLINE ? "battery"
                                                        : "unknown");
        line("backlight",
             s_.backlight_present ? std::to_string(s_.backlight_level) + " of 10" : std::string("no driver"));
        line("  from", tools::BrightnessReason(s_).brief);
        line("BatteryTimeout", tools::Seconds(s_.battery_timeout));
        line("BattSuspendTimeout", tools::Seconds(s_.batt_suspend_timeout));
        std::optional<std::string> in_force = s_.ProfileInForce();
        line("profile in force", in_force ? *in_force : std::string("neither"));
        line("  because", tools::ProfileReason(s_, true).brief);
        // Backlight and suspend time-outs ("never": 0 or disabled) and brightness.
        auto profile = [](const tools::DeviceView::Profile& p) {
            auto timeout = [](const std::optional<DWORD>& v, const std::optional<DWORD>& enable) {
                std::string words = tools::TimeoutWords(v, enable);
                return words.rfind("after ", 0) == 0 ? words.substr(6) : words;
            };
            return timeout(p.bl_timeout, p.backlight) + "  " + timeout(p.power_timeout, p.power) + "  " +
                   std::to_string(p.slide.value_or(0));
        };
        line("  GPS bl susp lvl", profile(s_.gps), in_force == std::string("GPS") ? kOn : kPanelText);
        line("  STD bl susp lvl", profile(s_.std_profile), in_force == std::string("STD") ? kOn : kPanelText);
        line("State_Chg", (s_.state_chg ? std::to_string(*s_.state_chg) : std::string("not set")) +
                              (s_.state_chg_read.empty() ? "" : ", read " + s_.state_chg_read));
        line("firmware", s_.firmware ? "\"" + *s_.firmware + "\"" : std::string("not recorded"));
        line("events set", s_.events.empty() ? "none yet" : "");
        for (const auto& [name, count] : s_.events)
            line("  " + name, std::to_string(count) + (count == 1 ? " time" : " times"));
        line("COM1", s_.com1.empty() ? "not mapped" : s_.com1 + (s_.com1_open ? ", open" : ", closed"));
        if (!s_.com1_sent.empty()) line("  last sent", s_.com1_sent);
        if (!s_.com1_received.empty()) line("  last received", s_.com1_received);
        // The tray icon as it is, pixel for pixel, where there is room.
        if (!s_.tray.empty() && s_.tray.front().picture.width > 0 && rows - row >= 11) {
            const host::IconImage& p = s_.tray.front().picture;
            ++row;
            const FaceState::TrayIcon& t = s_.tray.front();
            Hit hit{Hit::Kind::kTray, t.window, t.id, (t.rect.left + t.rect.right) / 2,
                    (t.rect.top + t.rect.bottom) / 2};
            for (int y = 0; y + 1 < p.height + 1; y += 2, ++row)
                for (int x = 0; x < p.width; ++x) {
                    if (!f_.Inside(col + x, row)) continue;
                    std::uint32_t upper = p.At(x, y), lower = y + 1 < p.height ? p.At(x, y + 1) : 0;
                    if ((upper | lower) >> 24)
                        f_.At(col + x, row) = Cell{U'▀', Over(upper, kPanel), Over(lower, kPanel), false, true};
                    if (s_.modals.empty()) f_.HitAt(col + x, row) = hit;
                }
        }
        if (!s_.note.empty()) f_.Put(col, rows - 1, s_.note, kWhite, kPanel);
    }

    const FaceState& s_;
    Frame& f_;
};

}  // namespace

Frame Render(const FaceState& state, int cols, int rows) {
    Frame frame(cols, rows);
    Render(state, frame);
    return frame;
}

void Render(const FaceState& state, Frame& frame) {
    frame.Clear();
    if (frame.cols() <= 0 || frame.rows() <= 0) return;
    Renderer(state, frame).Draw();
}

}  // namespace pelorn
