#include "platform/host/windows.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <limits>
#include <map>
#include <optional>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"
#include "platform/host/resources.h"
#include "platform/host/trace.h"

namespace host {
namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();
constexpr UINT kMinimumTimerPeriod = 10;  // USER_TIMER_MINIMUM
constexpr std::uint32_t kFirstWindowCounter = 1;
const char16_t kDialogClass[] = u"Dialog";

std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
}

std::u16string FromName(LPCWSTR name) {
    if (!name) return {};
    if (IS_INTRESOURCE(name)) {
        std::string id = "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
        return std::u16string(id.begin(), id.end());
    }
    return name;
}

}  // namespace

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

    explicit Impl(WindowManager& owner, Handheld& device) : self(owner), dev(device) {}

    WindowManager& self;
    Handheld& dev;
    std::map<std::u16string, WNDCLASS> classes;            // by lower-case name
    std::map<std::u16string, std::u16string> class_names;  // the names as registered
    std::map<std::uint32_t, Window> windows;
    // One queue, in arrival order: posted messages, and messages other processes sent, whose
    // sender waits on `reply` for the result.
    struct Queued {
        MSG msg;
        int reply = -1;
    };
    std::deque<Queued> queue;
    std::size_t posted = 0;  // entries without a waiting sender
    std::map<std::pair<std::uint32_t, UINT_PTR>, Timer> timers;
    std::vector<WakeSource> wake;
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
    HWND NewHandle() {
        try {
            std::uint32_t n = dev.registry().NextCounter("window", kFirstWindowCounter);
            return Handle(0x00010000u + n * 4u);
        } catch (const DeviceError&) {
            return nullptr;
        }
    }

    // Only a callback SetTimer was given in this process is ever called for a WM_TIMER.
    bool IsTimerCallback(LPARAM lp) const {
        for (const auto& [key, t] : timers)
            if (t.proc && reinterpret_cast<LPARAM>(t.proc) == lp) return true;
        return false;
    }

    LRESULT Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        Window* w = Get(h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        WNDPROC proc = w->proc;
        return proc(h, msg, wp, lp);
    }

    // The queue in order, then WM_QUIT once it is empty, then the earliest due timer. A message
    // another process sent is handled here, as the platform does, and its sender answered.
    bool Take(MSG* out, HWND filter, UINT lo, UINT hi, bool remove) {
        auto matches = [&](const MSG& m) {
            if (filter && m.hwnd != filter) return false;
            if (lo == 0 && hi == 0) return true;
            return m.message >= lo && m.message <= hi;
        };
        for (auto it = queue.begin(); it != queue.end();) {
            if (it->reply >= 0) {
                Queued sent = *it;
                queue.erase(it);
                AnswerSent(sent);
                it = queue.begin();
                continue;
            }
            if (!matches(it->msg)) {
                ++it;
                continue;
            }
            *out = it->msg;
            if (remove) {
                queue.erase(it);
                --posted;
            }
            return true;
        }
        if (quit_code && queue.empty()) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(*quit_code), 0, Now32(), {}};
            if (remove) quit_code.reset();
            return true;
        }
        Millis now = dev.clock().Now();
        auto best = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it) {
            if (it->second.due > now) continue;
            MSG m{Handle(it->first.first), WM_TIMER, it->first.second, 0, 0, {}};
            if (!matches(m)) continue;
            if (best == timers.end() || it->second.due < best->second.due) best = it;
        }
        if (best == timers.end()) return false;
        *out = MSG{Handle(best->first.first),
                   WM_TIMER,
                   best->first.second,
                   reinterpret_cast<LPARAM>(best->second.proc),
                   Now32(),
                   {}};
        // A held loop gets one WM_TIMER however many periods passed; the timer keeps its cadence.
        if (remove) {
            Timer& t = best->second;
            t.due += ((now - t.due) / t.period + 1) * t.period;
        }
        return true;
    }

    DWORD Now32() const { return static_cast<DWORD>(dev.clock().Now()); }

    // A full queue refuses further posts rather than grow without bound.
    bool Post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        if (posted >= kMaxPostedMessages) return false;
        queue.push_back(Queued{MSG{h, msg, wp, lp, Now32(), {}}, -1});
        ++posted;
        return true;
    }

    bool QueueSent(HWND h, UINT msg, WPARAM wp, LPARAM lp, int reply) {
        if (queue.size() - posted >= kMaxWaitingSenders) return false;
        queue.push_back(Queued{MSG{h, msg, wp, lp, Now32(), {}}, reply});
        return true;
    }

    void AnswerSent(const Queued& sent) {
        LRESULT result = 0;
        DWORD error = ERROR_SUCCESS;
        if (Get(sent.msg.hwnd))
            result = Deliver(sent.msg.hwnd, sent.msg.message, sent.msg.wParam, sent.msg.lParam);
        else
            error = ERROR_INVALID_WINDOW_HANDLE;
        AnswerOtherProcess(sent.reply, error, result);
    }

    Millis NextTimerDue() const {
        Millis next = kNever;
        for (const auto& [key, t] : timers)
            next = std::min(next, t.due);
        return next;
    }

    // The one wait. Asks the user first; then lets time run to the next timer (or the deadline).
    void Idle(std::optional<Millis> deadline) {
        if (dev.user().Act()) return;
        Millis next = NextTimerDue();
        if (deadline) next = std::min(next, *deadline);
        if (dev.clock().IsVirtual()) {
            if (next == kNever)
                throw Deadlock("the handheld has nothing left to do: no message, no timer, and the user does nothing");
            dev.clock().AdvanceTo(next);
            return;
        }
        WaitReal(next);
    }

    void WaitReal(Millis until) {
        std::vector<pollfd> fds;
        for (const auto& w : wake)
            fds.push_back(pollfd{w.fd, POLLIN, 0});
        int timeout = -1;
        if (until != kNever) {
            Millis left = until - dev.clock().Now();
            timeout = static_cast<int>(std::clamp<Millis>(left, 0, INT_MAX));
        }
        int n = poll(fds.data(), fds.size(), timeout);
        if (n <= 0) return;
        std::vector<std::function<void()>> ready;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents) ready.push_back(wake[i].on_ready);
        for (auto& f : ready)
            f();
    }

    int OpenModal(Modal m) {
        m.id = ++next_modal;
        self.modals_.push_back(std::move(m));
        return self.modals_.back().id;
    }

    void CloseModal(int modal_id) {
        auto& v = self.modals_;
        v.erase(std::remove_if(v.begin(), v.end(), [&](const Modal& x) { return x.id == modal_id; }), v.end());
    }

    // A window's message boxes and menus go with it: their modal loops end and the calls return.
    void CloseModalsOwnedBy(HWND h) {
        auto& v = self.modals_;
        v.erase(std::remove_if(v.begin(), v.end(),
                               [&](const Modal& m) { return m.kind != Modal::Kind::kDialog && m.window == h; }),
                v.end());
    }

    bool IsOpen(int modal_id) const {
        for (const auto& m : self.modals_)
            if (m.id == modal_id) return true;
        return false;
    }

    // A modal loop: serves the queue until `closed` says so. WM_QUIT ends it and is posted again
    // for the loop outside.
    template <class Closed>
    void RunModal(Closed closed) {
        for (;;) {
            if (closed()) return;
            MSG m;
            if (Take(&m, nullptr, 0, 0, true)) {
                if (m.message == WM_QUIT) {
                    quit_code = static_cast<int>(m.wParam);
                    return;
                }
                ::TranslateMessage(&m);
                ::DispatchMessage(&m);
                continue;
            }
            Idle(std::nullopt);
        }
    }

    void Activate(HWND h) {
        if (active == h) return;
        HWND previous = active;
        active = h;
        if (previous && Get(previous)) Deliver(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(h));
        if (h && Get(h) && active == h) Deliver(h, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
    }

    RECT WorkArea() const { return RECT{0, 0, kScreenWidth, kScreenHeight - kTaskbarHeight}; }
};

WindowManager::WindowManager(Handheld& device) : impl_(std::make_unique<Impl>(*this, device)) {}

WindowManager::~WindowManager() = default;

void WindowManager::DestroyAll() {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, w] : impl_->windows)
        ids.push_back(id);
    for (auto id : ids)
        if (impl_->windows.count(id)) ::DestroyWindow(Impl::Handle(id));
}

bool WindowManager::RunUntil(Millis t) {
    Impl& d = *impl_;
    for (;;) {
        if (quit_taken_) return false;
        MSG m;
        if (d.Take(&m, nullptr, 0, 0, true)) {
            if (m.message == WM_QUIT) {
                quit_taken_ = true;
                exit_code_ = static_cast<int>(m.wParam);
                return false;
            }
            ::TranslateMessage(&m);
            ::DispatchMessage(&m);
            continue;
        }
        if (d.dev.clock().Now() >= t) return true;
        d.Idle(t);
    }
}

bool WindowManager::RunFor(Millis ms) { return RunUntil(impl_->dev.clock().Now() + ms); }

bool WindowManager::AcknowledgeTopModal() {
    if (modals_.empty()) return false;
    Modal& top = modals_.back();
    switch (top.kind) {
        case Modal::Kind::kMessageBox:
        case Modal::Kind::kMenu:
            modals_.pop_back();
            return true;
        case Modal::Kind::kDialog:
            // The caption's OK button: the dialog decides what it means.
            ::SendMessage(top.window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
            return true;
    }
    return false;
}

std::optional<Millis> WindowManager::NextTimerDue() const {
    Millis next = impl_->NextTimerDue();
    if (next == kNever) return std::nullopt;
    return next;
}

int WindowManager::OpenModal(Modal m) { return impl_->OpenModal(std::move(m)); }

void WindowManager::RunModal(int id) {
    impl_->RunModal([&] { return !impl_->IsOpen(id); });
}

void WindowManager::CloseModal(int id) { impl_->CloseModal(id); }

bool WindowManager::IsModalOpen(int id) const { return impl_->IsOpen(id); }

bool WindowManager::SentFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, int reply) {
    Impl& d = *impl_;
    if (!d.Get(window)) {
        AnswerOtherProcess(reply, ERROR_INVALID_WINDOW_HANDLE, 0);
        return false;
    }
    if (!d.QueueSent(window, msg, wparam, lparam, reply)) {
        AnswerOtherProcess(reply, ERROR_BUSY, 0);
        return false;
    }
    return true;
}

bool WindowManager::PostedFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, DWORD* error) {
    Impl& d = *impl_;
    if (!d.Get(window)) {
        *error = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    if (!d.Post(window, msg, wparam, lparam)) {
        *error = ERROR_NOT_ENOUGH_QUOTA;
        return false;
    }
    *error = ERROR_SUCCESS;
    return true;
}

const WindowInfo* WindowManager::Find(HWND h) const {
    auto it = impl_->windows.find(Impl::Id(h));
    return h && it != impl_->windows.end() ? &it->second.info : nullptr;
}

std::vector<const WindowInfo*> WindowManager::Windows() const {
    std::vector<const WindowInfo*> out;
    for (const auto& [id, w] : impl_->windows)
        out.push_back(&w.info);
    return out;
}

void WindowManager::AddWakeSource(int fd, std::function<void()> on_ready) {
    impl_->wake.push_back({fd, std::move(on_ready)});
}

void WindowManager::RemoveWakeSource(int fd) {
    auto& w = impl_->wake;
    w.erase(std::remove_if(w.begin(), w.end(), [fd](const Impl::WakeSource& s) { return s.fd == fd; }), w.end());
}

}  // namespace host

using host::ApiCall;
using host::Handheld;
using host::TraceValue;
using host::WindowManager;
namespace json = host::json;

namespace {

WindowManager::Impl& WM() { return Handheld::Current().windows().impl(); }

LRESULT CALLBACK DialogWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* w = WM().Get(h);
    DLGPROC proc = w ? w->dlgproc : nullptr;
    if (proc && proc(h, msg, wp, lp)) return TRUE;
    if (msg == WM_CLOSE) {
        ::SendMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return 0;
    }
    return ::DefWindowProc(h, msg, wp, lp);
}

LRESULT CALLBACK StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProc(h, msg, wp, lp); }

HWND CreateWindowImpl(DWORD ex_style, const std::u16string& cls, WNDPROC proc, LPCWSTR title, DWORD style, RECT rect,
                      HWND owner, LPVOID param, bool dialog, int dialog_id, DLGPROC dlgproc) {
    auto& d = WM();
    HWND h = d.NewHandle();
    if (!h) {
        SetLastError(ERROR_CANTWRITE);
        return nullptr;
    }
    WindowManager::Impl::Window w;
    w.info.handle = h;
    w.info.class_name = cls;
    w.info.title = title ? title : u"";
    w.info.style = style & ~static_cast<DWORD>(WS_VISIBLE);
    w.info.ex_style = ex_style;
    w.info.owner = owner;
    w.info.rect = rect;
    w.info.dialog = dialog;
    w.info.dialog_id = dialog_id;
    w.proc = proc;
    w.dlgproc = dlgproc;
    d.windows.emplace(WindowManager::Impl::Id(h), std::move(w));

    if (!dialog) {
        CREATESTRUCT cs{param,
                        ::GetModuleHandle(nullptr),
                        nullptr,
                        owner,
                        static_cast<int>(rect.bottom - rect.top),
                        static_cast<int>(rect.right - rect.left),
                        static_cast<int>(rect.top),
                        static_cast<int>(rect.left),
                        static_cast<LONG>(style),
                        title,
                        cls.c_str(),
                        ex_style};
        if (!d.Deliver(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
            ::DestroyWindow(h);
            return nullptr;
        }
        if (d.Deliver(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            ::DestroyWindow(h);
            return nullptr;
        }
    }
    if ((style & WS_VISIBLE) && d.Get(h)) ::ShowWindow(h, SW_SHOW);
    if (!d.Get(h)) return nullptr;
    // Top-level windows can be addressed by other programs.
    if (!owner && !dialog)
        if (host::Endpoint* endpoint = d.dev.endpoint()) endpoint->Publish(h);
    return h;
}

}  // namespace

WORD RegisterClass(const WNDCLASS* wc) {
    ApiCall c("RegisterClass");
    c.ArgW("lpszClassName", wc ? wc->lpszClassName : nullptr);
    if (DWORD e; c.Injected(&e)) return c.Result<WORD>(0);
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result<WORD>(0);
    }
    auto& d = WM();
    auto key = host::Lower(wc->lpszClassName);
    if (d.classes.count(key)) {
        SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
        return c.Result<WORD>(0);
    }
    d.class_names[key] = wc->lpszClassName;
    WNDCLASS copy = *wc;
    copy.lpszClassName = d.class_names[key].c_str();
    copy.lpszMenuName = nullptr;
    d.classes[key] = copy;
    return c.Result<WORD>(static_cast<WORD>(0xC000 + d.classes.size()));
}

BOOL UnregisterClass(LPCWSTR name, HINSTANCE) {
    ApiCall c("UnregisterClass");
    c.ArgW("lpClassName", name);
    auto& d = WM();
    if (!name || !d.classes.erase(host::Lower(name))) {
        SetLastError(1411);  // ERROR_CLASS_DOES_NOT_EXIST
        return c.Result(FALSE);
    }
    return c.Result(TRUE);
}

BOOL GetClassInfo(HINSTANCE, LPCWSTR name, WNDCLASS* out) {
    auto& d = WM();
    auto it = name ? d.classes.find(host::Lower(name)) : d.classes.end();
    if (it == d.classes.end()) {
        SetLastError(1411);
        return FALSE;
    }
    if (out) *out = it->second;
    return TRUE;
}

HWND CreateWindowEx(DWORD ex_style, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int cx, int cy, HWND parent,
                    HMENU, HINSTANCE, LPVOID param) {
    ApiCall c("CreateWindowEx");
    c.ArgHex("dwExStyle", ex_style).ArgW("lpClassName", cls).ArgW("lpWindowName", title).ArgHex("dwStyle", style);
    c.Arg("x", x).Arg("y", y).Arg("nWidth", cx).Arg("nHeight", cy).ArgPtr("hWndParent", parent);
    if (DWORD e; c.Injected(&e)) return c.Result<HWND>(nullptr);
    auto& d = WM();
    auto it = cls ? d.classes.find(host::Lower(cls)) : d.classes.end();
    if (it == d.classes.end()) {
        SetLastError(1407);  // ERROR_CANNOT_FIND_WND_CLASS
        return c.Result<HWND>(nullptr);
    }
    if (parent && !d.Get(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<HWND>(nullptr);
    }
    RECT work = d.WorkArea();
    RECT r{x == CW_USEDEFAULT ? work.left : x, y == CW_USEDEFAULT ? work.top : y, 0, 0};
    r.right = r.left + (cx == CW_USEDEFAULT ? work.right - work.left : cx);
    r.bottom = r.top + (cy == CW_USEDEFAULT ? work.bottom - work.top : cy);
    HWND h = CreateWindowImpl(ex_style, it->second.lpszClassName, it->second.lpfnWndProc, title, style, r, parent,
                              param, false, 0, nullptr);
    return c.Result(h);
}

BOOL DestroyWindow(HWND h) {
    ApiCall c("DestroyWindow");
    c.ArgPtr("hWnd", h);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    w->destroying = true;
    // Owned windows go first, as on the platform.
    std::vector<HWND> owned;
    for (const auto& [id, other] : d.windows)
        if (other.info.owner == h) owned.push_back(other.info.handle);
    for (HWND o : owned)
        ::DestroyWindow(o);
    d.CloseModalsOwnedBy(h);
    w = d.Get(h);
    w->info.visible = false;
    if (d.active == h) d.Activate(nullptr);
    d.Deliver(h, WM_DESTROY, 0, 0);
    for (auto it = d.timers.begin(); it != d.timers.end();)
        it = it->first.first == WindowManager::Impl::Id(h) ? d.timers.erase(it) : std::next(it);
    for (auto it = d.queue.begin(); it != d.queue.end();) {
        if (it->msg.hwnd != h) {
            ++it;
            continue;
        }
        if (it->reply >= 0)
            host::AnswerOtherProcess(it->reply, ERROR_INVALID_WINDOW_HANDLE, 0);
        else
            --d.posted;
        it = d.queue.erase(it);
    }
    if (host::Endpoint* endpoint = d.dev.endpoint()) endpoint->Withdraw(h);
    d.Deliver(h, WM_NCDESTROY, 0, 0);
    d.windows.erase(WindowManager::Impl::Id(h));
    return c.Result(TRUE);
}

BOOL IsWindow(HWND h) { return WM().Get(h) ? TRUE : FALSE; }

BOOL ShowWindow(HWND h, int cmd) {
    ApiCall c("ShowWindow");
    c.ArgPtr("hWnd", h).Arg("nCmdShow", cmd);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    BOOL was_visible = w->info.visible ? TRUE : FALSE;
    if (cmd == SW_HIDE) {
        w->info.visible = false;
        if (d.active == h) d.Activate(nullptr);
    } else {
        w->info.visible = true;
        if (cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE) d.Activate(h);
    }
    return c.Result(was_visible);
}

BOOL IsWindowVisible(HWND h) {
    auto* w = WM().Get(h);
    return w && w->info.visible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND h) {
    ApiCall c("SetForegroundWindow");
    c.ArgPtr("hWnd", h);
    auto& d = WM();
    if (!d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    d.Activate(h);
    return c.Result(TRUE);
}

HWND SetActiveWindow(HWND h) {
    ApiCall c("SetActiveWindow");
    c.ArgPtr("hWnd", h);
    auto& d = WM();
    if (h && !d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<HWND>(nullptr);
    }
    HWND previous = d.active;
    d.Activate(h);
    return c.Result(previous);
}

HWND GetActiveWindow() { return WM().active; }

HWND GetWindow(HWND h, UINT cmd) {
    auto* w = WM().Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return cmd == GW_OWNER ? w->info.owner : nullptr;
}

HWND GetParent(HWND h) {
    auto* w = WM().Get(h);
    return w ? w->info.owner : nullptr;
}

LONG GetWindowLong(HWND h, int index) {
    auto* w = WM().Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE) return static_cast<LONG>(w->info.style | (w->info.visible ? WS_VISIBLE : 0));
    if (index == GWL_EXSTYLE) return static_cast<LONG>(w->info.ex_style);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

BOOL GetWindowRect(HWND h, LPRECT r) {
    auto* w = WM().Get(h);
    if (!w || !r) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *r = w->info.rect;
    return TRUE;
}

BOOL GetClientRect(HWND h, LPRECT r) {
    auto* w = WM().Get(h);
    if (!w || !r) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *r = RECT{0, 0, w->info.rect.right - w->info.rect.left, w->info.rect.bottom - w->info.rect.top};
    return TRUE;
}

BOOL MoveWindow(HWND h, int x, int y, int cx, int cy, BOOL) {
    return ::SetWindowPos(h, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL SetWindowPos(HWND h, HWND, int x, int y, int cx, int cy, UINT flags) {
    ApiCall c("SetWindowPos");
    c.ArgPtr("hWnd", h).Arg("X", x).Arg("Y", y).Arg("cx", cx).Arg("cy", cy).ArgHex("uFlags", flags);
    auto& d = WM();
    auto* w = d.Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    RECT& r = w->info.rect;
    LONG width = r.right - r.left, height = r.bottom - r.top;
    if (!(flags & SWP_NOSIZE)) width = cx, height = cy;
    if (!(flags & SWP_NOMOVE)) r.left = x, r.top = y;
    r.right = r.left + width;
    r.bottom = r.top + height;
    return c.Result(TRUE);
}

int GetWindowText(HWND h, LPWSTR buf, int max) {
    auto* w = WM().Get(h);
    if (!w || !buf || max <= 0) return 0;
    int n = std::min<int>(static_cast<int>(w->info.title.size()), max - 1);
    std::copy_n(w->info.title.begin(), n, buf);
    buf[n] = 0;
    return n;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
            return host::kScreenWidth;
        case SM_CYSCREEN:
            return host::kScreenHeight;
        default:
            return 0;
    }
}

BOOL SystemParametersInfo(UINT action, UINT, LPVOID param, UINT) {
    if (action != SPI_GETWORKAREA || !param) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<RECT*>(param) = WM().WorkArea();
    return TRUE;
}

LRESULT DefWindowProc(HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) ::DestroyWindow(h);
    if (msg == WM_NCCREATE) return TRUE;
    return 0;
}

LRESULT SendMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    ApiCall c("SendMessage");
    c.ArgPtr("hWnd", h).ArgHex("Msg", msg).Arg("wParam", static_cast<std::int64_t>(wp)).Arg("lParam", lp);
    if (DWORD e; c.Injected(&e)) return c.Result<LRESULT>(0);
    auto& d = WM();
    if (!d.Get(h)) {
        LRESULT result = 0;
        DWORD error = 0;
        if (!host::DeliverToOtherProcess(d.dev.folder(), h, msg, wp, lp, true, &result, &error)) SetLastError(error);
        return c.Result(result);
    }
    return c.Result(d.Deliver(h, msg, wp, lp));
}

BOOL PostMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    ApiCall c("PostMessage");
    c.ArgPtr("hWnd", h).ArgHex("Msg", msg).Arg("wParam", static_cast<std::int64_t>(wp)).Arg("lParam", lp);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& d = WM();
    if (h && !d.Get(h)) {
        LRESULT ignored = 0;
        DWORD error = 0;
        if (host::DeliverToOtherProcess(d.dev.folder(), h, msg, wp, lp, false, &ignored, &error)) return c.Result(TRUE);
        SetLastError(error);
        return c.Result(FALSE);
    }
    if (!d.Post(h, msg, wp, lp)) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return c.Result(FALSE);
    }
    return c.Result(TRUE);
}

BOOL GetMessage(LPMSG msg, HWND h, UINT lo, UINT hi) {
    auto& d = WM();
    for (;;) {
        if (d.Take(msg, h, lo, hi, true)) {
            if (msg->message != WM_QUIT) return TRUE;
            return FALSE;
        }
        d.Idle(std::nullopt);
    }
}

BOOL PeekMessage(LPMSG msg, HWND h, UINT lo, UINT hi, UINT remove) {
    return WM().Take(msg, h, lo, hi, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessage(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        // Anybody can post a WM_TIMER whose lParam is any number: call it only when it is one of
        // our timers' callbacks, and otherwise drop the message.
        if (WM().IsTimerCallback(msg->lParam))
            reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, WM().Now32());
        return 0;
    }
    if (!msg->hwnd) return 0;
    return WM().Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int code) {
    ApiCall c("PostQuitMessage");
    c.Arg("nExitCode", code);
    WM().quit_code = code;
}

UINT_PTR SetTimer(HWND h, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    ApiCall c("SetTimer");
    c.ArgPtr("hWnd", h).Arg("nIDEvent", static_cast<std::int64_t>(id)).Arg("uElapse", elapse);
    c.ArgMem("lpTimerFunc", reinterpret_cast<const void*>(proc));
    if (DWORD e; c.Injected(&e)) return c.Result<UINT_PTR>(0);
    auto& d = WM();
    if (!d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<UINT_PTR>(0);
    }
    UINT period = std::max(elapse, host::kMinimumTimerPeriod);
    d.timers[{WindowManager::Impl::Id(h), id}] = {period, d.dev.clock().Now() + period, proc};
    return c.Result<UINT_PTR>(id ? id : 1);
}

BOOL KillTimer(HWND h, UINT_PTR id) {
    ApiCall c("KillTimer");
    c.ArgPtr("hWnd", h).Arg("uIDEvent", static_cast<std::int64_t>(id));
    if (c.on()) {
        auto it = WM().timers.find({WindowManager::Impl::Id(h), id});
        c.Out("ms", it == WM().timers.end() ? TraceValue::Null() : TraceValue::Int(it->second.period));
    }
    auto& d = WM();
    if (!d.timers.erase({WindowManager::Impl::Id(h), id})) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    // A WM_TIMER already taken from the timer is not in the queue; nothing else to remove.
    return c.Result(TRUE);
}

void Sleep(DWORD ms) {
    ApiCall c("Sleep");
    c.Arg("dwMilliseconds", ms);
    Handheld::Current().clock().SleepFor(ms);
}

DWORD GetTickCount() { return WM().Now32(); }

int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    ApiCall c("MessageBox");
    c.ArgPtr("hWnd", owner).ArgW("lpText", text).ArgW("lpCaption", caption).ArgHex("uType", type);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    auto& d = WM();
    if (owner && !d.Get(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(0);
    }
    host::Modal box;
    box.kind = host::Modal::Kind::kMessageBox;
    box.window = owner;
    box.text = text ? text : u"";
    box.caption = caption ? caption : u"Error";
    box.type = type;
    RECT work = d.WorkArea();
    box.rect = RECT{work.left + 20, work.top + 100, work.right - 20, work.top + 180};
    int id = d.OpenModal(std::move(box));
    d.RunModal([&] { return !d.IsOpen(id); });
    d.CloseModal(id);  // still open when WM_QUIT ended the loop
    return c.Result(IDOK);
}

INT_PTR DialogBoxParam(HINSTANCE, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    ApiCall c("DialogBoxParam");
    c.Arg("lpTemplateName", TraceValue::Text(json::Utf8(host::FromName(name)))).ArgPtr("hWndParent", owner);
    if (DWORD e; c.Injected(&e)) return c.Result<INT_PTR>(-1);
    auto& d = WM();
    const host::ResourceTable* res = d.dev.resources();
    const host::DialogTemplate* t = nullptr;
    UINT id = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) : 0;
    if (res && id) {
        auto it = res->dialogs.find(id);
        if (it != res->dialogs.end()) t = &it->second;
    }
    if (!t) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return c.Result<INT_PTR>(-1);
    }
    if (owner && !d.Get(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<INT_PTR>(-1);
    }
    auto px = [](int du, int base, int div) { return du * base / div; };
    RECT origin{};
    if (owner) ::GetWindowRect(owner, &origin);
    RECT r{origin.left + px(t->x, host::kDialogBaseX, 4), origin.top + px(t->y, host::kDialogBaseY, 8), 0, 0};
    r.right = r.left + px(t->cx, host::kDialogBaseX, 4);
    r.bottom = r.top + px(t->cy, host::kDialogBaseY, 8);
    HWND dlg = CreateWindowImpl(t->ex_style, host::kDialogClass, DialogWindowProc, t->caption.c_str(), t->style, r,
                                owner, nullptr, true, static_cast<int>(id), proc);
    if (!dlg) return c.Result<INT_PTR>(-1);
    for (const auto& item : t->items) {
        RECT ir{r.left + px(item.x, host::kDialogBaseX, 4), r.top + px(item.y, host::kDialogBaseY, 8), 0, 0};
        ir.right = ir.left + px(item.cx, host::kDialogBaseX, 4);
        ir.bottom = ir.top + px(item.cy, host::kDialogBaseY, 8);
        HWND child = CreateWindowImpl(0, item.window_class, StaticProc, item.text.c_str(), item.style | WS_CHILD, ir,
                                      dlg, nullptr, false, 0, nullptr);
        if (auto* w = d.Get(child)) {
            w->info.dialog_id = item.id;
            w->info.visible = true;
        }
    }
    d.Deliver(dlg, WM_INITDIALOG, 0, param);
    if (auto* w = d.Get(dlg); w && !w->dialog_ended) {
        w->info.visible = true;
        host::Modal m;
        m.kind = host::Modal::Kind::kDialog;
        m.window = dlg;
        m.caption = w->info.title;
        m.rect = w->info.rect;
        int modal_id = d.OpenModal(std::move(m));
        d.RunModal([&] {
            auto* win = d.Get(dlg);
            return !win || win->dialog_ended;
        });
        d.CloseModal(modal_id);
    }
    INT_PTR result = 0;
    if (auto* w = d.Get(dlg)) {
        result = w->dialog_result;
        ::DestroyWindow(dlg);
    }
    return c.Result(result);
}

BOOL EndDialog(HWND dlg, INT_PTR result) {
    ApiCall c("EndDialog");
    c.ArgPtr("hDlg", dlg).Arg("nResult", static_cast<std::int64_t>(result));
    auto* w = WM().Get(dlg);
    if (!w || !w->info.dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    w->dialog_ended = true;
    w->dialog_result = result;
    w->info.visible = false;
    return c.Result(TRUE);
}

HWND GetDlgItem(HWND dlg, int id) {
    for (const auto& [key, w] : WM().windows)
        if (w.info.owner == dlg && !w.info.dialog && w.info.dialog_id == id) return w.info.handle;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL MapDialogRect(HWND, LPRECT r) {
    if (!r) return FALSE;
    r->left = r->left * host::kDialogBaseX / 4;
    r->right = r->right * host::kDialogBaseX / 4;
    r->top = r->top * host::kDialogBaseY / 8;
    r->bottom = r->bottom * host::kDialogBaseY / 8;
    return TRUE;
}

HMODULE GetModuleHandle(LPCWSTR name) {
    if (name) return nullptr;
    return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x00010000));
}

DWORD GetModuleFileName(HMODULE, LPWSTR buf, DWORD size) {
    if (!buf || size == 0) return 0;
    std::string program = Handheld::Current().program();
    std::u16string path = u"\\Windows\\" + std::u16string(program.begin(), program.end()) + u".exe";
    DWORD n = std::min<DWORD>(static_cast<DWORD>(path.size()), size - 1);
    std::copy_n(path.begin(), n, buf);
    buf[n] = 0;
    if (n < path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return n;
}

int LoadString(HINSTANCE, UINT id, LPWSTR buf, int max) {
    ApiCall c("LoadString");
    c.Arg("uID", id).Arg("cchBufferMax", max);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    const host::ResourceTable* res = Handheld::Current().resources();
    const std::u16string* text = nullptr;
    if (res) {
        auto it = res->strings.find(id);
        if (it != res->strings.end()) text = &it->second;
    }
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        if (buf && max > 0) buf[0] = 0;
        return c.Result(0);
    }
    if (!buf || max <= 0) return c.Result(0);
    int n = std::min<int>(static_cast<int>(text->size()), max - 1);
    std::copy_n(text->begin(), n, buf);
    buf[n] = 0;
    return c.Result(n);
}
