// The face on the terminal: ncurses for the cells, keys and mouse; pictures in true colour where
// the terminal takes it.
#define NCURSES_WIDECHAR 1
#include "pelorn/face.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "common/control.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "platform/host/shell.h"
#include "platform/host/trace.h"
#include "settings/settings.h"

namespace pelorn {
namespace {

// What a signal handler needs to give the terminal back: only async-signal-safe calls from there.
int g_resize_pipe = -1;
volatile sig_atomic_t g_active = 0;
termios g_saved{};
bool g_have_saved = false;
char g_restore[512];
std::size_t g_restore_length = 0;

const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previous_crash[sizeof kCrashSignals / sizeof kCrashSignals[0]];

void RestoreTerminal() {
    if (!g_active) return;
    g_active = 0;
    ssize_t ignored = write(STDOUT_FILENO, g_restore, g_restore_length);
    (void)ignored;
    if (g_have_saved) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
}

void OnCrash(int sig) {
    RestoreTerminal();
    signal(sig, SIG_DFL);
    raise(sig);
}

void OnResize(int) {
    const char byte = 1;
    ssize_t ignored = write(g_resize_pipe, &byte, 1);
    (void)ignored;
}

void AppendCap(const char* name) {
    char* cap = tigetstr(const_cast<char*>(name));
    if (!cap || cap == reinterpret_cast<char*>(-1)) return;
    std::size_t n = std::strlen(cap);
    if (g_restore_length + n >= sizeof g_restore) return;
    std::memcpy(g_restore + g_restore_length, cap, n);
    g_restore_length += n;
}

void AppendText(const char* text) {
    std::size_t n = std::strlen(text);
    if (g_restore_length + n >= sizeof g_restore) return;
    std::memcpy(g_restore + g_restore_length, text, n);
    g_restore_length += n;
}

struct Basic {
    short index;
    Rgb rgb;
};
const Basic kBasic[] = {
    {COLOR_BLACK, {0, 0, 0}},    {COLOR_RED, {205, 0, 0}},
    {COLOR_GREEN, {0, 205, 0}},  {COLOR_YELLOW, {205, 205, 0}},
    {COLOR_BLUE, {0, 0, 238}},   {COLOR_MAGENTA, {205, 0, 205}},
    {COLOR_CYAN, {0, 205, 205}}, {COLOR_WHITE, {229, 229, 229}},
    {8, {127, 127, 127}},        {9, {255, 0, 0}},
    {10, {0, 255, 0}},           {11, {255, 255, 0}},
    {12, {92, 92, 255}},         {13, {255, 0, 255}},
    {14, {0, 255, 255}},         {15, {255, 255, 255}},
};

long Distance(Rgb a, Rgb b) {
    long dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr * 3 + dg * dg * 4 + db * db * 2;
}

// The nearest colour the terminal has.
int Nearest(Rgb c) {
    if (COLORS >= 256) {
        static const int kLevels[] = {0, 95, 135, 175, 215, 255};
        auto level = [](int v) {
            int best = 0;
            for (int i = 1; i < 6; ++i)
                if (std::abs(kLevels[i] - v) < std::abs(kLevels[best] - v)) best = i;
            return best;
        };
        int r = level(c.r), g = level(c.g), b = level(c.b);
        Rgb cube{static_cast<std::uint8_t>(kLevels[r]), static_cast<std::uint8_t>(kLevels[g]),
                 static_cast<std::uint8_t>(kLevels[b])};
        int grey = std::min(23, std::max(0, ((c.r + c.g + c.b) / 3 - 8 + 5) / 10));
        std::uint8_t gv = static_cast<std::uint8_t>(8 + 10 * grey);
        if (Distance(c, Rgb{gv, gv, gv}) < Distance(c, cube)) return 232 + grey;
        return 16 + 36 * r + 6 * g + b;
    }
    int count = COLORS >= 16 ? 16 : 8;
    int best = 0;
    for (int i = 1; i < count; ++i)
        if (Distance(c, kBasic[i].rgb) < Distance(c, kBasic[best].rgb)) best = i;
    return kBasic[best].index;
}

std::string Truncated(std::string text, std::size_t n) {
    if (text.size() > n) text = text.substr(0, n - 3) + "...";
    return text;
}

}  // namespace

struct Face::Terminal {
    SCREEN* screen = nullptr;
    int resize_pipe[2] = {-1, -1};
    struct sigaction previous_winch {};
    bool colour = false;
    bool truecolour = false;
};

bool Face::Possible() {
    const char* term = std::getenv("TERM");
    return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && term && *term && std::strcmp(term, "dumb") != 0;
}

Face::Face(host::Handheld& device) : device_(device), term_(std::make_unique<Terminal>()) {
    std::setlocale(LC_ALL, "");
    // The screen's texts are UTF-8 whatever the locale says; a terminal today takes it.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");

    g_have_saved = tcgetattr(STDIN_FILENO, &g_saved) == 0;
    if (pipe2(term_->resize_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("no pipe for resizes");
    g_resize_pipe = term_->resize_pipe[1];
    // Ours before ncurses starts, so that it leaves SIGWINCH to us.
    struct sigaction sa {};
    sa.sa_handler = OnResize;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, &term_->previous_winch);

    term_->screen = newterm(nullptr, stdout, stdin);
    if (!term_->screen) {
        sigaction(SIGWINCH, &term_->previous_winch, nullptr);
        close(term_->resize_pipe[0]);
        close(term_->resize_pipe[1]);
        throw std::runtime_error("the terminal cannot be used (TERM=" + std::string(std::getenv("TERM")) + ")");
    }
    cbreak();  // Ctrl-C stays a signal: it closes the window as Pelorn's own Ctrl-C does
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    // Keys are read when the loop wakes for them: an update goes out whole, in one write, rather
    // than flushed before every look for typed-ahead keys.
    typeahead(-1);
    set_escdelay(25);
    curs_set(0);
    // NO_COLOR set to anything but empty: no colour at all, pictures included.
    const char* no_colour = std::getenv("NO_COLOR");
    const bool colour_wanted = !no_colour || !*no_colour;
    if (colour_wanted && has_colors()) {
        start_color();
        term_->colour = true;
    }
    const char* colourterm = std::getenv("COLORTERM");
    term_->truecolour = colour_wanted && colourterm &&
                        (std::strcmp(colourterm, "truecolor") == 0 || std::strcmp(colourterm, "24bit") == 0);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
    mouseinterval(0);

    g_restore_length = 0;
    AppendText("\033[?1006l\033[?1003l\033[?1002l\033[?1000l");
    AppendCap("sgr0");
    AppendCap("cnorm");
    AppendCap("rmkx");
    AppendCap("rmcup");
    AppendText("\r\n");
    g_active = 1;
    struct sigaction crash {};
    crash.sa_handler = OnCrash;
    for (std::size_t i = 0; i < std::size(kCrashSignals); ++i)
        sigaction(kCrashSignals[i], &crash, &g_previous_crash[i]);
    static bool registered = false;
    if (!registered) std::atexit(RestoreTerminal);
    registered = true;

    host::Trace& trace = device_.trace();
    trace.Keep(false);
    trace.Only({"WriteFile", "ReadFile"});
    trace.Observe([this](const host::TraceEntry& e) { Saw(e); });
    trace.Enable(true);
    device_.ObserveValueReads([this](std::u16string_view name, const BYTE* data, DWORD size) {
        // Another program's State_Chg, as the tick reads it before clearing it.
        std::optional<std::uint32_t> v = tools::StateChgRead(name, data, size);
        if (!v || !*v) return;
        char when[32];
        std::snprintf(when, sizeof when, " at %.1f s", static_cast<double>(device_.clock().Now()) / 1000.0);
        state_chg_read_ = std::to_string(*v) + when;
    });
    if (host::Endpoint* endpoint = device_.endpoint())
        endpoint->ObserveRequests([this](const host::PeerRequest& r, pid_t sender) { Sent(r, sender); });

    device_.windows().AddWakeSource(STDIN_FILENO, [this] { ReadInput(); });
    device_.windows().AddWakeSource(term_->resize_pipe[0], [this] { Resized(); });
    Draw(true);
}

Face::~Face() {
    if (host::Endpoint* endpoint = device_.endpoint()) endpoint->ObserveRequests(nullptr);
    device_.windows().RemoveWakeSource(STDIN_FILENO);
    device_.windows().RemoveWakeSource(term_->resize_pipe[0]);
    device_.ObserveValueReads(nullptr);
    host::Trace& trace = device_.trace();
    trace.Enable(false);
    trace.Observe(nullptr);
    trace.Only({});

    curs_set(1);
    endwin();
    delscreen(term_->screen);
    g_active = 0;
    for (std::size_t i = 0; i < std::size(kCrashSignals); ++i)
        sigaction(kCrashSignals[i], &g_previous_crash[i], nullptr);
    sigaction(SIGWINCH, &term_->previous_winch, nullptr);
    g_resize_pipe = -1;
    close(term_->resize_pipe[0]);
    close(term_->resize_pipe[1]);
}

bool Face::Act() {
    Draw(false);
    return false;
}

void Face::Sent(const host::PeerRequest& request, pid_t sender) { note_ = tools::ReceivedWords(request, sender); }

void Face::Saw(const host::TraceEntry& e) {
    if (e.Str("device") != "COM1:" || e.Num("result") == 0) return;
    std::string text = e.Str("text");
    if (text.empty()) return;
    (e.call == "WriteFile" ? com1_sent_ : com1_received_) = Truncated(text, 60);
}

void Face::ReadInput() {
    wint_t ch = 0;
    int got = 0;
    for (int r; (r = wget_wch(stdscr, &ch)) != ERR;) {
        ++got;
        Key key;
        key.function = r == KEY_CODE_YES;
        key.code = static_cast<unsigned>(ch);
        if (key.function && ch == KEY_MOUSE) {
            MEVENT event{};
            if (getmouse(&event) != OK || !(event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) continue;
            key.mouse_x = event.x;
            key.mouse_y = event.y;
        }
        if (key.function && ch == KEY_RESIZE) continue;
        pending_.push_back(key);
    }
    if (got == 0) {
        // The terminal is gone (hung up): nothing more will come from it, and a readable end of
        // file would keep the loop from ever waiting again.
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            device_.windows().RemoveWakeSource(STDIN_FILENO);
            Send("close");
        }
    }
    // A key may open a box whose loop reads the next keys: each is taken off the queue first.
    while (!pending_.empty()) {
        Key key = pending_.front();
        pending_.pop_front();
        Handle(key);
        Draw(false);
    }
}

void Face::Resized() {
    char buf[64];
    while (read(term_->resize_pipe[0], buf, sizeof buf) > 0) {
    }
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) resize_term(ws.ws_row, ws.ws_col);
    clearok(curscr, TRUE);
    Draw(true);
}

void Face::Draw(bool force) {
    FaceState s(tools::Look(device_));
    const FaceState::Modal* menu =
        !s.modals.empty() && s.modals.back().kind == host::Modal::Kind::kMenu ? &s.modals.back() : nullptr;
    if (!menu) {
        menu_id_ = 0;
        selected_ = -1;
    } else if (menu->id != menu_id_) {
        menu_id_ = menu->id;
        selected_ = MenuSelection(*menu, -1, 1);
        for (std::size_t i = 0; i < menu->items.size(); ++i)
            if (menu->items[i].checked) selected_ = static_cast<int>(i);
    }
    s.selected = selected_;
    s.com1_sent = com1_sent_;
    s.com1_received = com1_received_;
    s.note = note_;
    s.state_chg_read = state_chg_read_;
    s.help = help_;
    if (!force && shown_ && *shown_ == s && frame_ && frame_->cols() == COLS && frame_->rows() == LINES) return;
    shown_ = std::move(s);
    // Drawn into the frame before the one on the screen, when it has the size: no new cells a tick.
    std::unique_ptr<Frame> before = std::move(frame_);
    if (spare_ && spare_->cols() == COLS && spare_->rows() == LINES)
        frame_ = std::move(spare_);
    else
        frame_ = std::make_unique<Frame>(COLS, LINES);
    Render(*shown_, *frame_);
    // After a forced redraw ncurses paints every cell, and every picture cell is painted again.
    const bool same_size = before && before->cols() == frame_->cols() && before->rows() == frame_->rows();
    Paint(force || !same_size ? nullptr : before.get());
    spare_ = std::move(before);
}

// A row unchanged is one comparison of its bytes.
static_assert(std::has_unique_object_representations_v<Cell>);

void Face::Paint(const Frame* before) {
    const Frame& f = *frame_;
    std::string truecolour;
    // Where the picture's own output stands, and its colours: a run of cells needs them once.
    int at_row = -1, at_col = -1;
    std::optional<std::pair<Rgb, Rgb>> colours;
    for (int r = 0; r < f.rows(); ++r) {
        // ncurses may print unchanged cells between the changes of a row, to move along it: the
        // pictures from the row's first change to its last are painted again; the rest keep theirs.
        int first = 0, last = f.cols() - 1;
        if (before && f.cols() > 0 && std::memcmp(&before->At(0, r), &f.At(0, r), sizeof(Cell) * f.cols()) == 0)
            continue;
        if (before) {
            while (first <= last && before->At(first, r) == f.At(first, r))
                ++first;
            while (last >= first && before->At(last, r) == f.At(last, r))
                --last;
        }
        for (int c = first; c <= last; ++c) {
            const Cell& cell = f.At(c, r);
            // Only cells that change reach ncurses: the others are on the screen already, and
            // matching their colours and having ncurses compare them costs more than a tick. A
            // picture in true colour is drawn by us alone once on the screen: ncurses would only
            // draw it in the nearest colours first.
            bool changed = !before || !(before->At(c, r) == cell);
            if (changed && !(before && term_->truecolour && cell.picture)) {
                int pair = term_->colour ? alloc_pair(Nearest(cell.fg), Nearest(cell.bg)) : 0;
                if (pair < 0) pair = 0;
                wchar_t text[2] = {static_cast<wchar_t>(cell.ch), L'\0'};
                cchar_t cc;
                setcchar(&cc, text, cell.bold ? A_BOLD : A_NORMAL, static_cast<short>(pair), &pair);
                mvwadd_wch(stdscr, r, c, &cc);
            }
            if (term_->truecolour && cell.picture) {
                char seq[96];
                if (r != at_row || c != at_col) {
                    std::snprintf(seq, sizeof seq, "\033[%d;%dH", r + 1, c + 1);
                    truecolour += seq;
                }
                if (!colours || colours->first != cell.fg || colours->second != cell.bg) {
                    std::snprintf(seq, sizeof seq, "\033[0;38;2;%d;%d;%d;48;2;%d;%d;%dm", cell.fg.r, cell.fg.g,
                                  cell.fg.b, cell.bg.r, cell.bg.g, cell.bg.b);
                    truecolour += seq;
                    colours = std::make_pair(cell.fg, cell.bg);
                }
                at_row = r;
                at_col = c + 1;
                char utf8[8];
                std::mbstate_t state{};
                std::size_t n = std::wcrtomb(utf8, static_cast<wchar_t>(cell.ch), &state);
                if (n != static_cast<std::size_t>(-1)) truecolour.append(utf8, n);
            }
        }
    }
    wmove(stdscr, 0, 0);
    wnoutrefresh(stdscr);
    doupdate();
    if (truecolour.empty()) return;
    // Over what ncurses drew in the nearest colours; ends where ncurses left the cursor and with
    // the attributes it assumes, so its next update stays right.
    truecolour += "\033[0m\033[1;1H";
    for (std::size_t done = 0; done < truecolour.size();) {
        ssize_t n = write(STDOUT_FILENO, truecolour.data() + done, truecolour.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace pelorn
