// The record of every platform call the system makes, and the switch that makes calls fail.
//
// A call is one JSON object per line: {"t": virtual ms, "call": Win32 name, arguments by their
// Win32 names, "result": ...}. Beside the Win32 names, the calls a reader looks for most carry
// plain fields: RegSetValueEx `key` (the full path), `name`, `type`, `data`; Shell_NotifyIcon `op`,
// `icon`; DeviceIoControl `device`, `code`, `in` (the request's 32-bit words); serial ReadFile and
// WriteFile `device`, `text` (the bytes, \xHH for the unprintable ones); Sleep, SetTimer and
// KillTimer `ms`; and so on. Recording costs nothing while the trace is off.
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
// UTF-8 to 16-bit characters; a malformed sequence becomes U+FFFD.
std::u16string Utf16(std::string_view utf8);
// Appends one code point as UTF-8.
void AppendUtf8(char32_t c, std::string& out);
// Bytes as readable text: printable ASCII as it is, \\ for a backslash, \r \n \t, and \xHH
// for anything else (not JSON-quoted).
std::string EscapedText(const void* data, std::size_t n);
// A registry value's data in its plain form: a REG_DWORD as a number, a string type as text
// (without its terminating null), anything else as a hex string.
std::string RegData(DWORD type, const BYTE* data, std::size_t n);
// "REG_DWORD", "REG_SZ", ... as a JSON string; other types as their number.
std::string RegType(DWORD type);
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
    void Only(std::vector<std::string> calls) { only_ = std::move(calls); }
    bool Wants(const char* call) const;

    const std::vector<TraceEntry>& entries() const { return entries_; }
    void Clear() {
        entries_.clear();
        done_.clear();
    }
    // The entries whose call is `call`.
    std::vector<TraceEntry> Calls(std::string_view call) const;

    // Starts an entry and returns its index; Finish writes it to the stream.
    std::size_t Begin(TraceEntry entry);
    void Finish(std::size_t index);
    TraceEntry& At(std::size_t index) { return entries_[index]; }

    // What the trace calls a handle it saw opened: a device by its file name ("COM1:"), a
    // registry key by its full path. Null for a handle it did not see opened.
    const std::string* HandleName(std::uintptr_t handle) const;
    void NameHandle(std::uintptr_t handle, std::string name);
    void ForgetHandle(std::uintptr_t handle) { names_.erase(handle); }

private:
    bool enabled_ = false;
    bool keep_ = true;
    std::ostream* out_ = nullptr;
    Observer observer_;
    std::vector<std::string> only_;
    std::vector<TraceEntry> entries_;
    std::vector<bool> done_;  // finished, while not kept
    std::map<std::uintptr_t, std::string> names_;
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
    // A pointer to the caller's memory: only whether one was given, so that traces repeat.
    ApiCall& ArgMem(const char* name, const void* p);
    // Extra facts the caller wants in the record after the call (out-parameters).
    ApiCall& Out(const char* name, std::string json_value) { return Arg(name, std::move(json_value)); }

    // The handle's name (see Trace::HandleName) as a string, or null.
    ApiCall& ArgName(const char* name, const void* handle);
    // The full path of a registry key: a root by its full name, an opened key by its name.
    ApiCall& ArgKeyPath(const char* name, HKEY key);
    // The bytes as escaped text, when the handle names a serial port ("COMn:").
    ApiCall& ArgSerialText(const char* name, const void* handle, const void* data, std::size_t n);
    // The handle the call returns is named `device` (a CreateFile that succeeds).
    ApiCall& NamesResult(const WCHAR* device);
    // `opened` is the key `subkey` of `base`.
    ApiCall& NameKey(HKEY opened, HKEY base, const WCHAR* subkey);
    // The handle is being closed: its name goes.
    ApiCall& ForgetName(const void* handle);

    bool Injected(DWORD* error);

    template <class T>
    T Result(T v) {
        if (trace_) {
            entry().result = ResultJson(v);
            if constexpr (std::is_pointer_v<T>)
                if (!result_name_.empty()) NameResult(reinterpret_cast<std::uintptr_t>(v));
        }
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
    void NameResult(std::uintptr_t handle);
    const char* name_;
    Trace* trace_ = nullptr;   // set while the trace is on
    std::size_t index_ = 0;    // our entry: calls are listed in the order they began
    std::string result_name_;  // what the returned handle will be called
};

}  // namespace host
