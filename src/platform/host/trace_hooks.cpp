// The shared trace's hooks on the virtual handheld: the booted device's trace and faults, on its
// clock, for the system's own calls only.
#include "platform/host/handheld.h"
#include "platform/host/trace.h"

namespace tracing {

Trace* RecordingTrace(const char* call, Millis* now) {
    host::Handheld* h = host::Handheld::IfBooted();
    if (!h || h->quiet() || !h->trace().enabled() || !h->trace().Wants(call)) return nullptr;
    *now = h->clock().Now();
    return &h->trace();
}

Faults* ArmedFaults() {
    host::Handheld* h = host::Handheld::IfBooted();
    return h && !h->quiet() ? &h->faults() : nullptr;
}

}  // namespace tracing
