// The invariants of a day on the handheld, each one something a person or another program can
// see: the tray, the menu, the registry, the backlight driver, the named events, the boxes open.
// The checker watches the platform calls the system makes (the trace) and looks at the device
// between turns; the first broken invariant is kept, with the step that was running.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handheld/play/player.h"
#include "platform/host/trace.h"

namespace handheld {

// What the checker needs to see of the trace.
const std::vector<std::string>& CheckedCalls();

struct Violation {
    std::string invariant;  // its short name, as listed by Invariants()
    std::string detail;     // what was seen
    int step = 0;           // the 1-based step that was last started (0: before the first)
    host::Millis t = 0;
};

struct Invariant {
    const char* name;
    const char* statement;
};
// Every invariant checked, in the order of the list --help shows.
const std::vector<Invariant>& Invariants();

class DayChecker final : public PlayWatcher {
public:
    DayChecker(host::Handheld& device, Player& player);
    ~DayChecker() override;

    // A system that holds the device for longer than `limit` without its loops ever asking for
    // the next step is stuck (a loop that waits on and on): `stuck` is told, and must not return.
    void SetDeadline(host::Millis limit, std::function<void(const Violation&)> stuck);

    // Every finished trace entry.
    void Record(const host::TraceEntry& e);
    void Idle() override;
    void StepStarts(const Step& step) override;
    void StepEnds(const Step& step) override;
    // The end of the day: what can only be checked once.
    void Finish(const std::optional<std::string>& deadlock);

    const std::optional<Violation>& violation() const;
    // Monitor ticks seen to their end.
    long long ticks() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace handheld
