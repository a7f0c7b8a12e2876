// The trace and the faults of the virtual handheld: the shared record (platform/trace) under the
// host's names. The device owns one Trace and one Faults (Handheld::trace(), faults()); calls
// made while a tool is quiet are neither recorded nor failed.
#pragma once

#include "platform/host/seam.h"
#include "platform/trace/trace.h"

namespace host {

using tracing::AddPlainFields;
using tracing::ApiCall;
using tracing::Faults;
using tracing::RootKeyName;
using tracing::Trace;
using tracing::TraceEntry;
using tracing::TraceValue;
namespace json = tracing::json;

}  // namespace host
