// For the recording layer and the stand-ins that record themselves: the names mean the real
// calls, and one flag says whether anything records or fails (read once, at start).
#pragma once

#define PELORN_REAL_CALLS
#include "platform/trace/calls.h"
#include "platform/trace/trace.h"
#include "platform/win32/seam.h"

namespace win32trace {

extern bool g_on;

// The one branch a call pays while the trace and faults are off.
inline bool On() { return g_on; }

// A call that records the arguments it is given and its result, and nothing else.
template <class Describer, class F, class... A>
BOOL Plain(F f, A... a) {
    if (!On()) return f(a...);
    Describer c(a...);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    return c.Result(f(a...));
}

}  // namespace win32trace
