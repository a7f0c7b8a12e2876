#include "platform/host/clock.h"

#include <cerrno>
#include <ctime>

namespace host {
namespace {

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

RealClock::RealClock() : origin_ns_(MonotonicNs()) {}

Millis RealClock::Now() const { return (MonotonicNs() - origin_ns_) / 1000000; }

void RealClock::SleepFor(Millis ms) {
    if (ms <= 0) return;
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

void RealClock::AdvanceTo(Millis t) { SleepFor(t - Now()); }

}  // namespace host
