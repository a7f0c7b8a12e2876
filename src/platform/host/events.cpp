// CreateEvent and SetEvent: named and unnamed events, kept alive by their open handles.
#include <utility>

#include "platform/host/handheld.h"
#include "platform/host/objects.h"
#include "platform/host/power.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

namespace host {

class EventObject final : public KernelObject {
public:
    EventObject(std::u16string name, bool manual_reset, bool signalled)
        : name(std::move(name)), manual_reset(manual_reset), signalled(signalled) {}

    const std::u16string name;  // empty for an unnamed event
    const bool manual_reset;
    bool signalled;
};

std::shared_ptr<EventObject> Events::Find(const std::u16string& name) const {
    auto it = named_.find(name);
    return it == named_.end() ? nullptr : it->second.lock();
}

int Events::SetCount(const std::u16string& name) const {
    auto it = counts_.find(name);
    return it == counts_.end() ? 0 : it->second;
}

bool Events::Exists(const std::u16string& name) const { return Find(name) != nullptr; }

bool Events::IsSignalled(const std::u16string& name) const {
    auto event = Find(name);
    return event && event->signalled;
}

bool Events::Wait(const std::u16string& name) {
    auto event = Find(name);
    if (!event || !event->signalled) return false;
    if (!event->manual_reset) event->signalled = false;
    return true;
}

std::shared_ptr<EventObject> Events::Open(const std::u16string& name, bool manual_reset, bool initial, bool* existed) {
    // An existing event keeps its own reset mode and state; the caller's are ignored.
    if (auto event = name.empty() ? nullptr : Find(name)) {
        *existed = true;
        return event;
    }
    *existed = false;
    for (auto it = named_.begin(); it != named_.end();)
        it = it->second.expired() ? named_.erase(it) : std::next(it);
    auto event = std::make_shared<EventObject>(name, manual_reset, initial);
    if (!name.empty()) named_[name] = event;
    return event;
}

void Events::Signal(EventObject& event, Millis t) {
    // Nobody on this handheld waits through the seam, so the event stays signalled until its
    // owner's Wait, whatever its reset mode.
    event.signalled = true;
    if (event.name.empty()) return;
    if (signals_.size() == 2 * kSignalsKept) signals_.erase(signals_.begin(), signals_.begin() + kSignalsKept);
    signals_.push_back({event.name, t});
    ++counts_[event.name];
}

}  // namespace host

using host::Handheld;

HANDLE CreateEvent(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    tracing::CreateEventCall c(lpEventAttributes, bManualReset, bInitialState, lpName);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    std::u16string name = lpName ? lpName : u"";
    if (name.size() > 260) {
        SetLastError(206);  // ERROR_FILENAME_EXCED_RANGE: longer than MAX_PATH
        return c.Result<HANDLE>(nullptr);
    }
    Handheld& device = Handheld::Current();
    bool existed = false;
    auto event = device.power().events().Open(name, bManualReset != FALSE, bInitialState != FALSE, &existed);
    HANDLE h = device.handles().Add(std::move(event));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    c.Existed(existed);
    return c.Result(h);
}

BOOL SetEvent(HANDLE hEvent) {
    tracing::SetEventCall c(hEvent);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    Handheld& device = Handheld::Current();
    auto event = device.handles().GetAs<host::EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return c.Result(FALSE);
    }
    // Which event it was, so that a trace alone tells the signals apart.
    if (c.on() && !event->name.empty()) c.Signalled(host::json::Utf8(event->name));
    device.power().events().Signal(*event, device.clock().Now());
    return c.Result(TRUE);
}
