#include "platform/host/sim_receiver.h"

#include <algorithm>
#include <cstdio>

namespace host {

SimReceiver::SimReceiver(PowerProbe powered, Millis now) : probe_(std::move(powered)) { Sample(now); }

std::string SimReceiver::Sentence(std::string_view body) {
    unsigned sum = 0;
    for (unsigned char c : body)
        sum ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum & 0xFF);
    return "$" + std::string(body) + tail;
}

std::string SimReceiver::Banner() { return Sentence("PSRFTXT,Version: 03.01.00.12-HH01"); }

std::string SimReceiver::Burst(std::int64_t n) {
    // A receiver that has just been powered has no fix yet; its clock starts at noon.
    std::int64_t s = 12 * 3600 + n;
    char hms[16];
    std::snprintf(hms, sizeof hms, "%02lld%02lld%02lld.000", static_cast<long long>(s / 3600 % 24),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    std::string out = n == 1 ? Banner() : std::string();
    out += Sentence("GPGGA," + std::string(hms) + ",,,,,0,00,,,M,0.0,M,,0000");
    out += Sentence("GPGSA,A,1,,,,,,,,,,,,,,,");
    out += Sentence("GPRMC," + std::string(hms) + ",V,,,,,,,010105,,,N");
    out += Sentence("GPGSV,1,1,00");
    return out;
}

void SimReceiver::Sample(Millis now) {
    bool on = probe_ ? probe_() : true;
    if (on && !powered_) {
        powered_ = true;
        on_since_ = now;
        heard_.clear();
    } else if (!on) {
        powered_ = false;
    }
}

Millis SimReceiver::Script::Arrival(std::size_t i) const {
    return (start_us + static_cast<std::int64_t>(i + 1) * per_byte_us) / 1000;
}

std::size_t SimReceiver::Script::FirstAfter(Millis after) const {
    // Arrival grows with the index.
    std::size_t lo = 0, hi = bytes.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (Arrival(mid) > after)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void SimReceiver::CollectBursts(Millis after, Millis upto, std::size_t limit, std::vector<Timed>* out) const {
    if (!powered_ || !nmea_) return;
    Millis first = on_since_ + kStartDelay;
    // Bursts are shorter than the period, so none before the one running at `after` matters.
    std::int64_t n = after < first ? 1 : (after - first) / kPeriod + 1;
    for (;; ++n) {
        Millis start = first + (n - 1) * kPeriod;
        if (start > upto) return;
        Script burst{start * 1000, kByteMicros, Burst(n)};
        for (std::size_t i = burst.FirstAfter(after); i < burst.bytes.size(); ++i) {
            Millis t = burst.Arrival(i);
            if (t > upto || out->size() >= limit) return;
            out->push_back({t, burst.bytes[i]});
        }
    }
}

Millis SimReceiver::Collect(Millis after, Millis upto, std::size_t limit, std::string* out) const {
    if (!powered_ || upto <= after || limit == 0) return after;
    std::vector<Timed> bytes;
    CollectBursts(after, upto, limit, &bytes);
    for (const Script& s : scripts_) {
        std::size_t taken = 0;
        for (std::size_t i = s.FirstAfter(after); i < s.bytes.size() && taken < limit; ++i, ++taken) {
            Millis t = s.Arrival(i);
            if (t > upto) break;
            bytes.push_back({t, s.bytes[i]});
        }
    }
    std::stable_sort(bytes.begin(), bytes.end(), [](const Timed& a, const Timed& b) { return a.at < b.at; });
    if (bytes.size() > limit) bytes.resize(limit);
    for (const Timed& b : bytes)
        out->push_back(b.byte);
    return bytes.empty() ? after : bytes.back().at;
}

std::optional<Millis> SimReceiver::NextArrival(Millis after) const {
    if (!powered_) return std::nullopt;
    std::optional<Millis> next;
    auto consider = [&next](Millis t) {
        if (!next || t < *next) next = t;
    };
    if (nmea_) {
        Millis first = on_since_ + kStartDelay;
        std::int64_t n = after < first ? 1 : (after - first) / kPeriod + 1;
        for (int tries = 0; tries < 2; ++tries, ++n) {
            Script burst{(first + (n - 1) * kPeriod) * 1000, kByteMicros, Burst(n)};
            std::size_t i = burst.FirstAfter(after);
            if (i < burst.bytes.size()) {
                consider(burst.Arrival(i));
                break;
            }
        }
    }
    for (const Script& s : scripts_) {
        std::size_t i = s.FirstAfter(after);
        if (i < s.bytes.size()) consider(s.Arrival(i));
    }
    return next;
}

void SimReceiver::Receive(std::string_view bytes, Millis now) {
    if (!powered_) return;  // nobody listens
    heard_.append(bytes.data(), bytes.size());
    std::size_t at = heard_.find("$PSRF101");
    if (at != std::string::npos && heard_.find('\n', at) != std::string::npos) {
        on_since_ = now;  // restarts: the banner comes again after the start delay
        heard_.clear();
        return;
    }
    if (heard_.size() > 256) heard_.erase(0, heard_.size() - 256);
}

void SimReceiver::Send(Millis at, std::string bytes, std::int64_t per_byte_us) {
    // Output that ended a minute before the new one begins has been read or lost by now.
    scripts_.erase(std::remove_if(scripts_.begin(), scripts_.end(),
                                  [at](const Script& s) {
                                      return s.bytes.empty() || s.Arrival(s.bytes.size() - 1) < at - 60'000;
                                  }),
                   scripts_.end());
    scripts_.push_back({at * 1000, std::max<std::int64_t>(per_byte_us, 0), std::move(bytes)});
}

}  // namespace host
