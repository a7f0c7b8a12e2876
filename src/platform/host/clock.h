// The handheld's one clock: behind Sleep, GetTickCount, timers and serial time-outs.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace host {

using Millis = std::int64_t;

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the handheld was switched on.
    virtual Millis Now() const = 0;
    // Holds the calling thread for `ms`; on the virtual clock time simply moves on.
    virtual void SleepFor(Millis ms) = 0;
    // Moves time forward to `t` (no-op if already there); only meaningful on the virtual clock,
    // the real clock blocks until then.
    virtual void AdvanceTo(Millis t) = 0;
    virtual bool IsVirtual() const = 0;

    // Every wait of the system (its loop's, Sleep's, a serial line's, a message sent to another
    // process) calls this first: what the turn wrote is committed before anybody else can run.
    void BeforeWait() {
        if (before_wait_) before_wait_();
    }
    void SetBeforeWait(std::function<void()> f) { before_wait_ = std::move(f); }

private:
    std::function<void()> before_wait_;
};

// Time moves only when somebody moves it: a 5 s wait costs nothing.
class VirtualClock final : public Clock {
public:
    Millis Now() const override { return now_; }
    void SleepFor(Millis ms) override {
        if (ms > 0) now_ += ms;
    }
    void AdvanceTo(Millis t) override {
        if (t > now_) now_ = t;
    }
    bool IsVirtual() const override { return true; }

private:
    Millis now_ = 0;
};

class RealClock final : public Clock {
public:
    RealClock();
    Millis Now() const override;
    void SleepFor(Millis ms) override;
    void AdvanceTo(Millis t) override;
    bool IsVirtual() const override { return false; }

private:
    std::int64_t origin_ns_;
};

}  // namespace host
