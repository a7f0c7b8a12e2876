// Named and unnamed events, and the record of every SetEvent on a named one.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/clock.h"
#include "platform/host/seam.h"

namespace host {

class EventObject;

// One SetEvent on a named event.
struct EventSignal {
    std::u16string name;
    Millis t = 0;  // virtual time of the call
};

// Named and unnamed events. An event lives while a handle to it is open; a name finds only a live
// event. Names are compared case-sensitively, as the platform does.
class Events {
public:
    // The SetEvents on named events, oldest first: at least the last kSignalsKept, so that a
    // process that runs for weeks does not grow. The record outlives the events themselves.
    static constexpr std::size_t kSignalsKept = 1024;
    const std::vector<EventSignal>& signals() const { return signals_; }
    // How often each named event was set, ever.
    int SetCount(const std::u16string& name) const;
    const std::map<std::u16string, int>& set_counts() const { return counts_; }

    // Whether an event of that name is open now, and whether it is signalled (false when absent).
    bool Exists(const std::u16string& name) const;
    bool IsSignalled(const std::u16string& name) const;
    // What the event's owner (the backlight driver, the power manager) does when it waits on it:
    // true when it was signalled, and an auto-reset event is reset by the wait. False when no
    // event of that name is open or it is not signalled.
    bool Wait(const std::u16string& name);

    // --- the seam's side ---
    // Opens the live event of that name, or creates one; `existed` tells which.
    std::shared_ptr<EventObject> Open(const std::u16string& name, bool manual_reset, bool initial, bool* existed);
    void Signal(EventObject& event, Millis t);

private:
    std::shared_ptr<EventObject> Find(const std::u16string& name) const;

    std::map<std::u16string, std::weak_ptr<EventObject>> named_;
    std::vector<EventSignal> signals_;
    std::map<std::u16string, int> counts_;
};

}  // namespace host
