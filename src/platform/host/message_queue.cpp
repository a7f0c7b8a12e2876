// The message queue, timers and the one wait of the window manager.
#include <poll.h>

#include <algorithm>
#include <climits>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"
#include "platform/host/window_manager_impl.h"
#include "platform/trace/calls.h"

namespace host {

bool WindowManager::Impl::Take(MSG* out, HWND filter, UINT lo, UINT hi, bool remove) {
    auto matches = [&](const MSG& m) {
        if (filter && m.hwnd != filter) return false;
        if (lo == 0 && hi == 0) return true;
        return m.message >= lo && m.message <= hi;
    };
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->reply) {
            Queued sent = std::move(*it);
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

DWORD WindowManager::Impl::Now32() const { return static_cast<DWORD>(dev.clock().Now()); }

bool WindowManager::Impl::Post(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (posted >= kMaxPostedMessages) return false;
    queue.push_back(Queued{MSG{h, msg, wp, lp, Now32(), {}}, nullptr});
    ++posted;
    return true;
}

bool WindowManager::Impl::QueueSent(HWND h, UINT msg, WPARAM wp, LPARAM lp, SentReply reply) {
    if (queue.size() - posted >= kMaxWaitingSenders) return false;
    queue.push_back(Queued{MSG{h, msg, wp, lp, Now32(), {}}, std::move(reply)});
    return true;
}

void WindowManager::Impl::AnswerSent(Queued& sent) {
    if (Get(sent.msg.hwnd))
        sent.reply(ERROR_SUCCESS, Deliver(sent.msg.hwnd, sent.msg.message, sent.msg.wParam, sent.msg.lParam));
    else
        sent.reply(ERROR_INVALID_WINDOW_HANDLE, 0);
}

void WindowManager::Impl::Forget(HWND h) {
    for (auto it = timers.begin(); it != timers.end();)
        it = it->first.first == Id(h) ? timers.erase(it) : std::next(it);
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->msg.hwnd != h) {
            ++it;
            continue;
        }
        if (it->reply)
            it->reply(ERROR_INVALID_WINDOW_HANDLE, 0);
        else
            --posted;
        it = queue.erase(it);
    }
}

bool WindowManager::Impl::IsTimerCallback(LPARAM lp) const {
    for (const auto& [key, t] : timers)
        if (t.proc && reinterpret_cast<LPARAM>(t.proc) == lp) return true;
    return false;
}

Millis WindowManager::Impl::NextTimerDue() const {
    Millis next = kNever;
    for (const auto& [key, t] : timers)
        next = std::min(next, t.due);
    return next;
}

void WindowManager::Impl::Idle(std::optional<Millis> deadline) {
    dev.clock().BeforeWait();
    {
        // The person, or another program, may have changed anything meanwhile.
        QuietCalls quiet(dev);
        if (dev.user().Act()) return;
    }
    // What the user's turn read or wrote is done with too, before the device sleeps.
    dev.clock().BeforeWait();
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

void WindowManager::Impl::WaitReal(Millis until) {
    std::vector<pollfd>& fds = polled;
    fds.clear();
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
    QuietCalls quiet(dev);
    for (auto& f : ready)
        f();
}

void WindowManager::Impl::RunModal(const std::function<bool()>& closed) {
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

}  // namespace host

using host::WM;

LRESULT SendMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    tracing::MessageCall c(tracing::Call::kSendMessage, h, msg, wp, lp);
    if (DWORD e; c.Injected(&e)) return c.Result<LRESULT>(0);
    auto& d = WM();
    if (!d.Get(h)) {
        d.dev.clock().BeforeWait();
        LRESULT result = 0;
        DWORD error = 0;
        if (!host::DeliverToOtherProcess(d.dev.folder(), h, msg, wp, lp, true, &result, &error)) SetLastError(error);
        return c.Result(result);
    }
    return c.Result(d.Deliver(h, msg, wp, lp));
}

BOOL PostMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    tracing::MessageCall c(tracing::Call::kPostMessage, h, msg, wp, lp);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& d = WM();
    if (h && !d.Get(h)) {
        d.dev.clock().BeforeWait();
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
        if (WM().IsTimerCallback(msg->lParam)) {
            host::SystemCalls system(WM().dev);
            reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, WM().Now32());
        }
        return 0;
    }
    if (!msg->hwnd) return 0;
    return WM().Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int code) {
    tracing::PostQuitMessageCall c(code);
    WM().quit_code = code;
}

UINT_PTR SetTimer(HWND h, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    tracing::SetTimerCall c(h, id, elapse, reinterpret_cast<const void*>(proc));
    if (DWORD e; c.Injected(&e)) return c.Result<UINT_PTR>(0);
    auto& d = WM();
    if (!d.Get(h)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<UINT_PTR>(0);
    }
    UINT period = std::max(elapse, host::kMinimumTimerPeriod);
    d.timers[{host::WindowManager::Impl::Id(h), id}] = {period, d.dev.clock().Now() + period, proc};
    return c.Result<UINT_PTR>(id ? id : 1);
}

BOOL KillTimer(HWND h, UINT_PTR id) {
    auto& d = WM();
    const auto key = std::make_pair(host::WindowManager::Impl::Id(h), id);
    auto timer = d.timers.find(key);
    tracing::KillTimerCall c(
        h, id, timer == d.timers.end() ? std::nullopt : std::optional<std::int64_t>(timer->second.period));
    if (!d.timers.erase(key)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    // A WM_TIMER already taken from the timer is not in the queue; nothing else to remove.
    return c.Result(TRUE);
}

void Sleep(DWORD ms) {
    tracing::SleepCall c(ms);
    host::Clock& clock = host::Handheld::Current().clock();
    clock.BeforeWait();
    clock.SleepFor(ms);
}

DWORD GetTickCount() { return WM().Now32(); }
