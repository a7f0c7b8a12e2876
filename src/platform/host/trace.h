// The record of every platform call the system makes, and the switch that makes calls fail.
//
// A call is one JSON object per line: {"t": virtual ms, "call": Win32 name, arguments by their
// Win32 names, "result": ...}. Recording costs nothing while the trace is off.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/host/clock.h"
#include "platform/host/seam.h"

namespace host {

// One recorded call. Argument and result values are kept as JSON text.
struct TraceEntry {
    Millis t = 0;
    std::string call;
    std::vector<std::pair<std::string, std::string>> args;
    std::string result;

    std::string Json() const;
    bool Has(std::string_view name) const;
    // The argument's JSON text; empty when absent.
    const std::string& Raw(std::string_view name) const;
    // A string argument decoded from JSON; a non-string argument as its JSON text.
    std::string Str(std::string_view name) const;
    // A numeric argument (or the result, with name "result").
    std::int64_t Num(std::string_view name) const;
};

// JSON text for the value kinds that platform calls take.
namespace json {
std::string Quote(std::string_view utf8);
std::string Wide(const WCHAR* s);  // null pointer -> null
std::string Wide(const WCHAR* s, std::size_t n);
std::string Key(HKEY key);  // predefined roots by name, others as numbers
std::string Handle(const void* h);
std::string Bytes(const void* data, std::size_t n);  // hex string
std::string Utf8(std::u16string_view s);
}  // namespace json

class Trace {
public:
    bool enabled() const { return enabled_; }
    void Enable(bool on) { enabled_ = on; }
    // Every finished entry is also written here as one line, when set.
    void StreamTo(std::ostream* out) { out_ = out; }
    const std::vector<TraceEntry>& entries() const { return entries_; }
    void Clear() { entries_.clear(); }
    // The entries whose call is `call`.
    std::vector<TraceEntry> Calls(std::string_view call) const;

    // Starts an entry and returns its index; Finish writes it to the stream.
    std::size_t Begin(TraceEntry entry);
    void Finish(std::size_t index);
    TraceEntry& At(std::size_t index) { return entries_[index]; }

private:
    bool enabled_ = false;
    std::ostream* out_ = nullptr;
    std::vector<TraceEntry> entries_;
};

// Fault injection: "the next N calls of F fail with error E", optionally after letting the
// first `skip` calls through.
class Faults {
public:
    void FailNext(const std::string& call, int count, DWORD error, int skip = 0);
    // True (and the error) when the call should fail now; consumes one failure.
    bool Take(const char* call, DWORD* error);
    void Clear() { pending_.clear(); }

private:
    struct Pending {
        int skip;
        int count;
        DWORD error;
    };
    std::map<std::string, Pending, std::less<>> pending_;
};

// Records one platform call. Usage:
//   ApiCall c("RegOpenKeyEx");
//   c.Arg("hKey", json::Key(hKey));      // only evaluated into the trace when it is on
//   if (DWORD e; c.Injected(&e)) return c.Result(static_cast<LONG>(e));
//   ...
//   return c.Result(status);
class ApiCall {
public:
    explicit ApiCall(const char* name);
    ~ApiCall();
    ApiCall(const ApiCall&) = delete;
    ApiCall& operator=(const ApiCall&) = delete;

    bool on() const { return trace_ != nullptr; }
    ApiCall& Arg(const char* name, std::string json_value);
    ApiCall& Arg(const char* name, std::int64_t v);
    ApiCall& ArgW(const char* name, const WCHAR* s);
    ApiCall& ArgHex(const char* name, std::uint64_t v);
    ApiCall& ArgKey(const char* name, HKEY key);
    ApiCall& ArgPtr(const char* name, const void* p);
    // Extra facts the caller wants in the record after the call (out-parameters).
    ApiCall& Out(const char* name, std::string json_value) { return Arg(name, std::move(json_value)); }

    bool Injected(DWORD* error);

    template <class T>
    T Result(T v) {
        if (trace_) entry().result = ResultJson(v);
        return v;
    }

private:
    template <class T>
    static std::string ResultJson(T v) {
        if constexpr (std::is_pointer_v<T>) {
            return json::Handle(reinterpret_cast<const void*>(v));
        } else {
            return std::to_string(static_cast<std::int64_t>(v));
        }
    }
    TraceEntry& entry();
    const char* name_;
    Trace* trace_ = nullptr;  // set while the trace is on
    std::size_t index_ = 0;   // our entry: calls are listed in the order they began
};

}  // namespace host
