// The record of every platform call the system makes, and the switch that makes calls fail: one
// definition for both platforms. The host records in its seam, Win32 in a thin layer around the
// desktop's calls (platform/win32/traced_*.cpp), both through the describer of each call
// (calls.h); each supplies the two hooks at the end.
//
// A call is a record of typed values: its Win32 arguments by their names, the facts it reports
// (out-parameters), and its result. Beside the Win32 names, the calls a reader looks for most carry
// plain fields, derived in one place (fields.cpp) when the call finishes: RegSetValueEx
// `key` (the full path), `name`, `type`, `data`; Shell_NotifyIcon `op`; DeviceIoControl `device`,
// `code`, `in` (the request's 32-bit words); serial ReadFile and WriteFile `device`, `text`; Sleep,
// SetTimer and KillTimer `ms`; and so on. Observers get the typed records; a stream gets them as
// JSON Lines. Recording costs nothing while the trace is off.
//
// `t` is milliseconds on the clock behind the platform's timers: on the host the device's clock
// since the handheld was switched on (virtual in tests and scenarios), on Win32 the real clock
// since the program started.
//
// A long run keeps nothing: Keep(false) drops each entry once it is finished and written to the
// stream or shown to the observer, and Only() narrows recording to the calls the observer reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/win32api.h"

namespace tracing {

using Millis = std::int64_t;

// One typed value in a record: an argument, a fact the call reports, or its result. It becomes
// JSON only where a record is written out.
struct TraceValue {
    enum class Kind : std::uint8_t { kNull, kBool, kInt, kHex, kText, kBytes, kList };
    Kind kind = Kind::kNull;
    std::int64_t number = 0;         // kBool (0 or 1), kInt, kHex (its bits)
    std::string text;                // kText: UTF-8; kBytes: the bytes themselves
    std::vector<std::int64_t> list;  // kList

    static TraceValue Null() { return {}; }
    static TraceValue Bool(bool b) { return {Kind::kBool, b ? 1 : 0, {}, {}}; }
    static TraceValue Int(std::int64_t v) { return {Kind::kInt, v, {}, {}}; }
    static TraceValue Hex(std::uint64_t v) { return {Kind::kHex, static_cast<std::int64_t>(v), {}, {}}; }
    static TraceValue Text(std::string utf8) { return {Kind::kText, 0, std::move(utf8), {}}; }
    static TraceValue Bytes(const void* data, std::size_t n);  // null data: null
    static TraceValue List(std::vector<std::int64_t> v) { return {Kind::kList, 0, {}, std::move(v)}; }

    bool IsNull() const { return kind == Kind::kNull; }
    // As JSON: text quoted, bytes as a hex string, hex as a "0x..." string, lists as arrays.
    std::string Json() const;
};

// One recorded call.
struct TraceEntry {
    Millis t = 0;
    std::string_view call;  // the recording code's own literal
    // In the order recorded. The names are the recording code's own literals.
    std::vector<std::pair<std::string_view, TraceValue>> args;
    std::optional<TraceValue> result;

    // One JSON object: {"t":..,"call":..,arguments and facts..,"result":..}.
    std::string Json() const;
    bool Has(std::string_view name) const;
    // The named value (the result for "result"); null when absent.
    const TraceValue& Value(std::string_view name) const;
    // The value as JSON text; empty when absent.
    std::string Raw(std::string_view name) const;
    // Text, hex numbers and bytes as the text JSON quotes; anything else as its JSON text.
    std::string Str(std::string_view name) const;
    // A text value's UTF-8, without a copy; empty for a value of any other kind.
    std::string_view Text(std::string_view name) const;
    // A number (0 when it is none).
    std::int64_t Num(std::string_view name) const;
};

// Text the trace and the tools share.
namespace json {
std::string Utf8(std::u16string_view s);
void AppendUtf8(std::u16string_view s, std::string& out);
// UTF-8 to 16-bit characters; a malformed sequence becomes U+FFFD.
std::u16string Utf16(std::string_view utf8);
// Appends one code point as UTF-8.
void AppendUtf8(char32_t c, std::string& out);
// Bytes as readable text: printable ASCII as it is, \\ for a backslash, \r \n \t, and \xHH
// for anything else.
std::string EscapedText(const void* data, std::size_t n);
}  // namespace json

class Trace {
public:
    using Observer = std::function<void(const TraceEntry&)>;

    bool enabled() const { return enabled_; }
    void Enable(bool on) { enabled_ = on; }
    // Every finished entry is also written here as one line, when set.
    void StreamTo(std::ostream* out) { out_ = out; }
    // Every finished entry is also shown to the observer, when set.
    void Observe(Observer observer) { observer_ = std::move(observer); }
    // Whether finished entries stay in entries() (the default). Off, an entry lives only while
    // its call runs: memory stays flat however long the device runs.
    void Keep(bool keep) { keep_ = keep; }
    // Records only the calls named (every call when empty). The others cost what they cost with
    // the trace off.
    void Only(std::vector<std::string> calls);
    bool Wants(const char* call) const;

    const std::vector<TraceEntry>& entries() const { return entries_; }
    void Clear() {
        entries_.clear();
        done_.clear();
    }
    // The entries whose call is `call`.
    std::vector<TraceEntry> Calls(std::string_view call) const;

    // Starts an entry of `call` at `t` and returns its index; Finish writes it to the stream.
    std::size_t Begin(const char* call, Millis t);
    void Finish(std::size_t index);
    TraceEntry& At(std::size_t index) { return entries_[index]; }

    // What the trace calls a handle it saw opened: a device by its file name ("COM1:"), a
    // registry key by its full path. Null for a handle it did not see opened.
    const std::string* HandleName(std::uintptr_t handle) const;
    void NameHandle(std::uintptr_t handle, std::string_view name);
    void ForgetHandle(std::uintptr_t handle);

private:
    bool enabled_ = false;
    bool keep_ = true;
    std::ostream* out_ = nullptr;
    Observer observer_;
    std::vector<std::string> only_;  // sorted
    std::vector<TraceEntry> entries_;
    std::vector<char> done_;  // finished, while not kept
    std::unordered_map<std::uintptr_t, std::string> names_;
};

// "HKEY_LOCAL_MACHINE", ... for the predefined roots; null for any other key.
const char* RootKeyName(HKEY key);

// Adds the plain fields readers look for to a finished call (see the top of this file); the
// trace supplies the names of the handles the call used.
void AddPlainFields(TraceEntry& entry, const Trace& trace);

// Fault injection: "the next N calls of F fail with error E", optionally after letting the
// first `skip` calls through.
class Faults {
public:
    // The seam functions that take injected faults (each asks Take() before it does anything), in
    // alphabetical order.
    static const std::vector<std::string_view>& Failable();
    // False, and nothing armed, for a function that takes no faults.
    bool FailNext(const std::string& call, int count, DWORD error, int skip = 0);
    // Arms "Func[:count[:error]],..." (count 1 and ERROR_GEN_FAILURE when left out; the error in
    // decimal or 0x hex). Arms nothing and says what is wrong when any part is not understood.
    bool Arm(std::string_view spec, std::string* problem);
    // True (and the error) when the call should fail now; consumes one failure. `call` is the
    // call site's own literal.
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
//   c.ArgKey("hKey", hKey);      // only recorded when the trace is on
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
    ApiCall& Arg(std::string_view name, TraceValue v) {
        if (trace_) entry().args.emplace_back(name, std::move(v));
        return *this;
    }
    // Off, a number costs a test: no value is made only to be dropped. On, it is made in place.
    ApiCall& Arg(std::string_view name, std::int64_t v) {
        if (trace_) Number(name, TraceValue::Kind::kInt, v);
        return *this;
    }
    ApiCall& ArgW(std::string_view name, const WCHAR* s);
    ApiCall& ArgHex(std::string_view name, std::uint64_t v) {
        if (trace_) Number(name, TraceValue::Kind::kHex, static_cast<std::int64_t>(v));
        return *this;
    }
    // A predefined root by its name, any other key by its handle.
    ApiCall& ArgKey(std::string_view name, HKEY key);
    ApiCall& ArgPtr(std::string_view name, const void* p);
    // A pointer to the caller's memory: only whether one was given, so that traces repeat.
    ApiCall& ArgMem(std::string_view name, const void* p);
    ApiCall& ArgBytes(std::string_view name, const void* data, std::size_t n);
    // Facts the call reports (out-parameters), recorded after the arguments.
    ApiCall& Out(std::string_view name, TraceValue v) { return Arg(name, std::move(v)); }
    ApiCall& Out(std::string_view name, std::int64_t v) { return Arg(name, v); }

    // The handle the call returns is named `device` (a CreateFile that succeeds).
    ApiCall& NamesResult(const WCHAR* device);
    // `opened` is the key `subkey` of `base`.
    ApiCall& NameKey(HKEY opened, HKEY base, const WCHAR* subkey);
    // The handle is being closed: its name goes once the call is recorded.
    ApiCall& ForgetName(const void* handle);

    bool Injected(DWORD* error);

    template <class T>
    T Result(T v) {
        if (trace_) {
            if constexpr (std::is_pointer_v<T>) {
                entry().result = TraceValue::Int(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(v)));
                if (!result_name_.empty()) NameResult(reinterpret_cast<std::uintptr_t>(v));
            } else {
                entry().result = TraceValue::Int(static_cast<std::int64_t>(v));
            }
        }
        return v;
    }

private:
    // Our entry; a stand-in once the trace was cleared under us.
    TraceEntry& entry() { return index_ < trace_->entries().size() ? trace_->At(index_) : Discarded(); }
    static TraceEntry& Discarded();
    // A new null value named `name`, at the end of our entry.
    TraceValue& Slot(std::string_view name) {
        auto& arg = entry().args.emplace_back();
        arg.first = name;
        return arg.second;
    }
    void Number(std::string_view name, TraceValue::Kind kind, std::int64_t v) {
        TraceValue& slot = Slot(name);
        slot.kind = kind;
        slot.number = v;
    }
    // Text made in the value's own buffer.
    std::string& Text(std::string_view name, TraceValue::Kind kind) {
        TraceValue& slot = Slot(name);
        slot.kind = kind;
        return slot.text;
    }
    void NameResult(std::uintptr_t handle);
    const char* name_;
    Trace* trace_ = nullptr;                // set while the trace is on
    std::size_t index_ = 0;                 // our entry: calls are listed in the order they began
    std::string result_name_;               // what the returned handle will be called
    std::optional<std::uintptr_t> forget_;  // a handle whose name goes when the call is recorded
};

// The seam's 16-bit text as UTF-8; null stays null.
TraceValue Wide(const WCHAR* s);

// A DCB and COMMTIMEOUTS as arguments, field by field (the DCB's bit fields also as one hex word).
void DcbFields(ApiCall& c, const DCB& d);
void TimeoutFields(ApiCall& c, const COMMTIMEOUTS& t);

// What each platform supplies. The trace that records `call` now, and the time of the call
// (null when nobody records it, or the caller is not the system); the faults armed for the
// system's calls (null when none can be).
Trace* RecordingTrace(const char* call, Millis* now);
Faults* ArmedFaults();

}  // namespace tracing
