// The handheld's face: its screen with the taskbar and tray, the menu, message boxes and dialogs
// the system opens, and beside it a panel with the devices' state, drawn in a terminal. The person
// taps, picks and answers with the mouse or keys; other keys act as the hardware or as another
// program on the device would.
//
// Two halves: Render() turns the device's view (tools::Look) into a Frame of cells, with no
// terminal involved; Face puts frames on the terminal (ncurses) and turns what the
// person does into taps, choices and messages. Face is the device's User: whenever the innermost
// loop has nothing to do it looks at the device and draws only if something changed, then lets
// the loop wait. The terminal is one of the loop's wake sources, so input is read at once and
// nothing else wakes the process.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/device_view.h"
#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"

namespace pelorn {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

// What the face shows: the device as everybody sees it, and what only the face knows.
struct FaceState : tools::DeviceView {
    FaceState() = default;
    explicit FaceState(tools::DeviceView view) : DeviceView(std::move(view)) {}

    int selected = -1;           // the highlighted item of the innermost menu
    std::string com1_sent;       // the last write to COM1, as readable text
    std::string com1_received;   // the last read from it
    std::string note;            // what the last key did, or what another program sent last
    std::string state_chg_read;  // the last nonzero State_Chg the system read, and when
    bool help = false;           // the list of keys is open

    bool operator==(const FaceState& o) const;
    bool operator!=(const FaceState& o) const { return !(*this == o); }
};

// What a cell of the frame does when the person clicks it.
struct Hit {
    enum class Kind { kNone, kTray, kMenuItem, kBesideMenu, kOk };
    Kind kind = Kind::kNone;
    HWND window = nullptr;  // kTray
    UINT id = 0;            // kTray: the icon; kMenuItem: the command
    int x = 0, y = 0;       // the screen point the cell stands for
};

struct Cell {
    char32_t ch = U' ';
    Rgb fg{200, 200, 200};
    Rgb bg{0, 0, 0};
    bool bold = false;
    bool picture = false;  // a half block of a picture: drawn in true colour where possible
    bool operator==(const Cell& o) const {
        return ch == o.ch && fg == o.fg && bg == o.bg && bold == o.bold && picture == o.picture;
    }
};

class Frame {
public:
    Frame(int cols, int rows);
    // Every cell blank and without a hit again, keeping the storage.
    void Clear();
    int cols() const { return cols_; }
    int rows() const { return rows_; }
    Cell& At(int col, int row) { return cells_[Index(col, row)]; }
    const Cell& At(int col, int row) const { return cells_[Index(col, row)]; }
    Hit& HitAt(int col, int row) { return hits_[Index(col, row)]; }
    const Hit& HitAt(int col, int row) const { return hits_[Index(col, row)]; }
    bool Inside(int col, int row) const { return col >= 0 && row >= 0 && col < cols_ && row < rows_; }
    // Writes text from (col, row) on, clipped at `right` (exclusive; -1: the frame's edge).
    void Put(int col, int row, const std::string& utf8, Rgb fg, Rgb bg, bool bold = false, int right = -1);
    // The frame as UTF-8 lines without trailing blanks.
    std::string Text() const;
    std::string Line(int row) const;

    // Where the handheld's screen is drawn, and how many screen pixels one column stands for (a
    // row stands for twice as many: each cell shows two square pixels, one above the other).
    int screen_col = 0, screen_row = 0, screen_cols = 0, screen_rows = 0;
    double scale = 0;
    bool too_small = false;

private:
    std::size_t Index(int col, int row) const { return static_cast<std::size_t>(row) * cols_ + col; }
    int cols_, rows_;
    std::vector<Cell> cells_;
    std::vector<Hit> hits_;
};

// Every key the face takes, and what it does: the help line and the help box (?) list them.
struct FaceKey {
    const char* key;
    const char* does;
};
const std::vector<FaceKey>& FaceKeys();

// The smallest terminal the face fits in.
constexpr int kMinCols = 74;
constexpr int kMinRows = 24;

Frame Render(const FaceState& state, int cols, int rows);
// The same into `frame`, cleared first: a face redrawing every tick reuses its frames.
void Render(const FaceState& state, Frame& frame);

// What a click on a cell with that hit does, as the person would do it: taps the tray icon,
// chooses the item, taps beside the menu, presses OK. False when it did nothing.
bool Perform(host::Handheld& device, const Hit& hit);

// The face on this process's terminal (standard input and output).
class Face final : public host::User {
public:
    // Whether there is a terminal to draw on.
    static bool Possible();
    // Takes over the terminal; throws std::runtime_error when it cannot.
    explicit Face(host::Handheld& device);
    // Gives the terminal back as it was.
    ~Face() override;
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    // Draws what changed; the person answers a menu or box with keys, so the loop just waits.
    bool Act() override;

private:
    struct Key {
        bool function = false;  // a KEY_ code rather than a character
        unsigned code = 0;
        int mouse_x = -1, mouse_y = -1;
        bool press = false;
    };
    void ReadInput();
    void Resized();
    void Handle(const Key& key);
    void Draw(bool force);
    // Paints the frame; the cells `before` (the frame on the screen now) shows alike are left be.
    void Paint(const Frame* before);
    // A control message by its name (show, hide, ...), as another program sends it.
    void Send(const char* what);
    void Saw(const host::TraceEntry& e);
    void Sent(const host::PeerRequest& request, pid_t sender);
    int MenuSelection(const FaceState::Modal& menu, int from, int step) const;

    host::Handheld& device_;
    struct Terminal;
    std::unique_ptr<Terminal> term_;
    std::deque<Key> pending_;
    std::optional<FaceState> shown_;
    std::unique_ptr<Frame> frame_;
    std::unique_ptr<Frame> spare_;  // the frame before, drawn over next time
    int menu_id_ = 0;               // the menu the selection belongs to
    int selected_ = -1;
    std::string com1_sent_, com1_received_;
    std::string note_;
    std::string state_chg_read_;
    bool help_ = false;
};

}  // namespace pelorn
