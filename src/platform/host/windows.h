// Windows, the message queue, timers and modal loops of the virtual handheld.
//
// One loop, one wait: whichever loop is innermost (GetMessage in the application's loop, or the
// loop of a message box, menu or dialog) is the only place that waits. With nothing queued and no
// timer due it first asks the device's User; then, on the virtual clock, time jumps to the next
// timer, and on the real clock the thread blocks once until the next timer or a wake source.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/host/clock.h"
#include "platform/host/seam.h"

namespace host {

class Handheld;

// Nothing can ever happen again: the queue is empty, no timer runs and the user does nothing.
class Deadlock : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The handheld's screen: 240 x 320, portrait, with the taskbar along the bottom.
constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kTaskbarHeight = 26;

// Something modal the person sees and answers, innermost last.
struct Modal {
    enum class Kind { kMessageBox, kDialog, kMenu };
    Kind kind;
    HWND window = nullptr;   // the dialog's own window; the owner for a message box or menu
    std::u16string text;     // message box text
    std::u16string caption;  // message box caption or dialog title
    UINT type = 0;           // message box style
    HMENU menu = nullptr;
    RECT rect{};  // where it is on the screen
    int id = 0;   // tells nested boxes apart
};

struct WindowInfo {
    HWND handle = nullptr;
    std::u16string class_name;
    std::u16string title;
    DWORD style = 0;
    DWORD ex_style = 0;
    HWND owner = nullptr;
    RECT rect{};
    bool visible = false;
    bool dialog = false;
    int dialog_id = 0;  // the template's id, for dialogs
};

// How a message another process sent is answered: with the window procedure's result, or an
// error when it never reached one.
using SentReply = std::function<void(DWORD error, LRESULT result)>;

class WindowManager {
public:
    explicit WindowManager(Handheld& device);
    ~WindowManager();

    // Destroys every window, with its destruction messages, as at the end of a process.
    void DestroyAll();

    // Serves messages, timers and the user until the clock reaches `t` with nothing left due, or
    // until WM_QUIT is taken (returns false then).
    bool RunUntil(Millis t);
    bool RunFor(Millis ms);
    bool quit() const { return quit_taken_; }
    int exit_code() const { return exit_code_; }

    // What is open now, innermost last.
    const std::vector<Modal>& modals() const { return modals_; }
    const Modal* TopModal() const { return modals_.empty() ? nullptr : &modals_.back(); }
    // The person answers the innermost box or dialog with OK, or dismisses the menu. False when
    // nothing modal is open.
    bool AcknowledgeTopModal();

    // For the shell's own modal things (the popup menu): open one, serve the queue until it is
    // closed (or WM_QUIT arrives, which is posted again for the outer loop), close it.
    int OpenModal(Modal m);
    void RunModal(int id);
    void CloseModal(int id);
    bool IsModalOpen(int id) const;

    // When the next timer falls due; nothing when no timer runs.
    std::optional<Millis> NextTimerDue() const;

    const WindowInfo* Find(HWND h) const;
    std::vector<const WindowInfo*> Windows() const;

    // Real clock only: the loop's one wait also watches `fd` and runs `on_ready` when readable.
    void AddWakeSource(int fd, std::function<void()> on_ready);
    void RemoveWakeSource(int fd);

    // A message another process on the device sent to one of our windows: it takes its turn in
    // the queue, and `reply` is called once, with the result or with why there is none.
    bool SentFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, SentReply reply);
    // A message another process posted. False, with *error, when the window is not ours or the
    // queue is full.
    bool PostedFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, DWORD* error);

    // --- the platform functions' side (used by the seam's implementation) ---
    struct Impl;
    Impl& impl() { return *impl_; }

private:
    friend struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<Modal> modals_;
    bool quit_taken_ = false;
    int exit_code_ = 0;
};

}  // namespace host
