// The handheld's built-in GPS receiver as its serial line sees it, for ports mapped to "sim".
//
// The receiver talks only while it is powered (pin 38 high). A second after it is powered it
// sends its version banner, then one burst of NMEA sentences a second, every byte paced at
// 4800 baud (10 bits, about 2 ms) on the handheld's clock. Nothing is generated ahead of time:
// each byte's arrival is computed from the clock, so the virtual clock can jump to the next one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/clock.h"

namespace host {

class SimReceiver {
public:
    using PowerProbe = std::function<bool()>;

    static constexpr std::int64_t kByteMicros = 10'000'000 / 4800;  // start, 8 data and stop bit
    static constexpr Millis kStartDelay = 1000;                     // power-on to the banner
    static constexpr Millis kPeriod = 1000;                         // one burst a second

    // `powered` reads the receiver's power pin; `now` is when the handheld was switched on.
    SimReceiver(PowerProbe powered, Millis now);

    // The banner sentence, with its checksum and line end.
    static std::string Banner();
    // The sentences of burst `n` (1 is the first after power-on and starts with the banner).
    static std::string Burst(std::int64_t n);
    // "$<body>*hh\r\n" with the NMEA checksum of body.
    static std::string Sentence(std::string_view body);

    // Reads the power pin: a receiver that was off starts afresh at `now`; one that is off stops.
    void Sample(Millis now);
    bool powered() const { return powered_; }

    // Appends the bytes that arrive in (after, upto], in order, at most `limit` of them; returns
    // the arrival time of the last one appended, or `after` when none was.
    Millis Collect(Millis after, Millis upto, std::size_t limit, std::string* out) const;
    // When the first byte after `after` arrives; none while the receiver is off or has nothing
    // left to say.
    std::optional<Millis> NextArrival(Millis after) const;

    // What the handheld sends to the receiver. A navigation-initialisation sentence ("$PSRF101")
    // restarts it, so its banner follows a second later.
    void Receive(std::string_view bytes, Millis now);

    // The periodic bursts; on by default. Tools and tests switch them off to script the line.
    void SetNmeaOutput(bool on) { nmea_ = on; }
    // Extra output starting at `at`, one byte every `per_byte_us`. Sent only while powered.
    // Earlier output that ended a minute before `at` is forgotten.
    void Send(Millis at, std::string bytes, std::int64_t per_byte_us = kByteMicros);

private:
    struct Script {
        std::int64_t start_us;
        std::int64_t per_byte_us;
        std::string bytes;
        Millis Arrival(std::size_t i) const;
        // The index of the first byte arriving after `after`; bytes.size() when there is none.
        std::size_t FirstAfter(Millis after) const;
    };
    struct Timed {
        Millis at;
        char byte;
    };
    void CollectBursts(Millis after, Millis upto, std::size_t limit, std::vector<Timed>* out) const;

    PowerProbe probe_;
    bool powered_ = false;
    Millis on_since_ = 0;
    bool nmea_ = true;
    std::vector<Script> scripts_;
    std::string heard_;  // the start of a sentence the handheld is still sending
};

}  // namespace host
