// A random but valid day of a handheld, from one seed: the person, other programs, the hardware,
// the receiver and injected faults, each step chosen by looking at the device first, so that an
// `ok` answers a box that is open and a `pick` a menu that is. The steps it gave are a script
// that plays the same day again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handheld/play/player.h"
#include "platform/host/registry_store.h"

namespace handheld {

// Every random choice of a day comes from here: the same seed, the same day, on every build.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // 0 .. n-1 (n > 0).
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
    // lo .. hi, both included.
    std::int64_t Between(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo) + 1));
    }
    bool Chance(int percent) { return Below(100) < static_cast<std::uint64_t>(percent); }

private:
    std::uint64_t state_;
};

struct DayOptions {
    std::uint64_t seed = 1;
    host::Millis length = 24LL * 3600 * 1000;
    // Recorded receiver output to take excerpts from; without any, the receiver says random bytes.
    std::vector<std::string> logs;
};

class DayGenerator final : public StepSource {
public:
    DayGenerator(const DayOptions& options, host::Handheld& device);
    // The player the steps go to: whether the system runs is asked of it.
    void SetPlayer(const Player& player) { player_ = &player; }

    const Step* Next() override;
    // The steps given so far, a script line each.
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::string Choose();
    std::string Wait();
    std::string Tap();
    std::string Registry();
    std::string Receiver();
    std::string Fault();
    bool ProfileKeyExists() const;
    bool ProfileValueExists(const std::string& name) const;
    bool AppValueExists(const std::string& name) const;

    DayOptions options_;
    host::Handheld& device_;
    const Player* player_ = nullptr;
    SeededRandom random_;
    // Now and then a device is missing for the rest of the day, from the start or from a moment.
    std::optional<host::Millis> absent_at_;
    std::string absent_;
    std::vector<std::string> lines_;
    Step step_;
};

// A value of the device's registry as another program reads it (not traced); empty when the key
// or the value is missing.
std::optional<host::RegValue> StoredValue(host::Handheld& device, HKEY root, const std::u16string& path,
                                          const std::u16string& name);
bool KeyExists(host::Handheld& device, HKEY root, const std::u16string& path);

// The escaped form of bytes in a `com1 send "..."` step.
std::string EscapedForScript(const std::string& bytes);

}  // namespace handheld
