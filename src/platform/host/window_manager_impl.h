// The window manager's state, shared by the files that implement it: the message queue and
// timers (message_queue.cpp), the windows (window_api.cpp), message boxes and dialogs
// (dialog_api.cpp) and the manager's own interface (window_manager.cpp).
#pragma once

#include <poll.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/handheld.h"
#include "platform/host/windows.h"

namespace host {

constexpr Millis kNever = std::numeric_limits<Millis>::max();
constexpr UINT kMinimumTimerPeriod = 10;  // USER_TIMER_MINIMUM

// Class names compare without regard to case.
std::u16string Lower(std::u16string s);
// A resource name as text: itself, or "#id" for an integer resource.
std::u16string ResourceName(LPCWSTR name);

struct WindowManager::Impl {
    struct Window {
        WindowInfo info;
        WNDPROC proc = nullptr;
        DLGPROC dlgproc = nullptr;
        bool dialog_ended = false;
        INT_PTR dialog_result = 0;
        bool destroying = false;
    };
    struct Timer {
        UINT period;
        Millis due;
        TIMERPROC proc;
    };
    struct WakeSource {
        int fd;
        std::function<void()> on_ready;
    };
    // One queue, in arrival order: posted messages, and messages other processes sent, whose
    // sender waits for `reply`.
    struct Queued {
        MSG msg;
        SentReply reply;  // empty for a posted message
    };

    Impl(WindowManager& owner, Handheld& device) : self(owner), dev(device) {}

    WindowManager& self;
    Handheld& dev;
    std::map<std::u16string, WNDCLASS> classes;            // by lower-case name
    std::map<std::u16string, std::u16string> class_names;  // the names as registered
    std::map<std::uint32_t, Window> windows;
    std::deque<Queued> queue;
    std::size_t posted = 0;  // entries without a waiting sender
    std::map<std::pair<std::uint32_t, UINT_PTR>, Timer> timers;
    std::vector<WakeSource> wake;
    std::vector<pollfd> polled;  // WaitReal's, kept from wait to wait
    std::optional<int> quit_code;
    HWND active = nullptr;
    int next_modal = 0;

    static std::uint32_t Id(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(h)); }
    static HWND Handle(std::uint32_t id) { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(id)); }

    Window* Get(HWND h) {
        auto it = windows.find(Id(h));
        return h && it != windows.end() ? &it->second : nullptr;
    }
    // Null when the registry cannot hand out a handle.
    HWND NewHandle();
    LRESULT Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    // A message or timer taken inside a handler (by a modal loop) starts a turn of its own.
    void Activate(HWND h);
    RECT WorkArea() const { return RECT{0, 0, kScreenWidth, kScreenHeight - kTaskbarHeight}; }
    DWORD Now32() const;

    // --- the queue and timers ---
    // The queue in order, then WM_QUIT once it is empty, then the earliest due timer. A message
    // another process sent is handled here, as the platform does, and its sender answered.
    bool Take(MSG* out, HWND filter, UINT lo, UINT hi, bool remove);
    // A full queue refuses further posts rather than grow without bound.
    bool Post(HWND h, UINT msg, WPARAM wp, LPARAM lp);
    bool QueueSent(HWND h, UINT msg, WPARAM wp, LPARAM lp, SentReply reply);
    // Drops what is queued for a window being destroyed; its waiting senders are told it is gone.
    void Forget(HWND h);
    // Only a callback SetTimer was given in this process is ever called for a WM_TIMER.
    bool IsTimerCallback(LPARAM lp) const;
    Millis NextTimerDue() const;
    // The one wait. Asks the user first; then lets time run to the next timer (or the deadline).
    void Idle(std::optional<Millis> deadline);

    // --- modal loops ---
    int OpenModal(Modal m);
    void CloseModal(int modal_id);
    // A window's message boxes and menus go with it: their modal loops end and the calls return.
    void CloseModalsOwnedBy(HWND h);
    bool IsOpen(int modal_id) const;
    // Serves the queue until `closed` says so. WM_QUIT ends it and is posted again for the loop
    // outside.
    void RunModal(const std::function<bool()>& closed);

private:
    void AnswerSent(Queued& sent);
    void WaitReal(Millis until);
};

// The window manager of the device switched on in this process.
WindowManager::Impl& WM();

// A window, or a dialog (`dialog`, with its template id and procedure), with its creation
// messages; published for other programs when it is top-level. Null when it could not be made.
HWND CreateWindowImpl(DWORD ex_style, const std::u16string& cls, WNDPROC proc, LPCWSTR title, DWORD style, RECT rect,
                      HWND owner, LPVOID param, bool dialog, int dialog_id, DLGPROC dlgproc);

}  // namespace host
