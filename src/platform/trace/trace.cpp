#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/trace/calls.h"
#include "platform/trace/trace.h"

namespace tracing {

TraceValue TraceValue::Bytes(const void* data, std::size_t n) {
    if (!data) return Null();
    return {Kind::kBytes, 0, std::string(static_cast<const char*>(data), n), {}};
}

std::string TraceValue::Json() const {
    using nlohmann::json;
    switch (kind) {
        case Kind::kNull:
            return "null";
        case Kind::kBool:
            return number ? "true" : "false";
        case Kind::kInt:
            return std::to_string(number);
        case Kind::kHex: {
            char buf[24];
            std::snprintf(buf, sizeof buf, "\"0x%llX\"", static_cast<unsigned long long>(number));
            return buf;
        }
        case Kind::kText:
            return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
        case Kind::kBytes: {
            static const char digits[] = "0123456789abcdef";
            std::string out = "\"";
            for (unsigned char c : text) {
                out += digits[c >> 4];
                out += digits[c & 15];
            }
            return out + '"';
        }
        case Kind::kList:
            return json(list).dump();
    }
    return "null";
}

std::string TraceEntry::Json() const {
    std::string out = "{\"t\":" + std::to_string(t) + ",\"call\":" + TraceValue::Text(std::string(call)).Json();
    for (const auto& [name, value] : args)
        out += "," + TraceValue::Text(std::string(name)).Json() + ":" + value.Json();
    if (result) out += ",\"result\":" + result->Json();
    out += "}";
    return out;
}

namespace {

// Names are the recording code's literals, and a reader's literal is often the very same string.
bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.data() == b.data() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

const TraceValue kNone;

}  // namespace

bool TraceEntry::Has(std::string_view name) const {
    for (const auto& a : args)
        if (SameName(a.first, name)) return true;
    return false;
}

const TraceValue& TraceEntry::Value(std::string_view name) const {
    if (SameName(name, "result")) return result ? *result : kNone;
    for (const auto& a : args)
        if (SameName(a.first, name)) return a.second;
    return kNone;
}

std::string TraceEntry::Raw(std::string_view name) const {
    if (name == "result" ? !result : !Has(name)) return "";
    return Value(name).Json();
}

std::string TraceEntry::Str(std::string_view name) const {
    const TraceValue& v = Value(name);
    if (v.kind == TraceValue::Kind::kText) return v.text;
    std::string raw = Raw(name);
    // Hex numbers and bytes are strings in JSON: their text without the quotes.
    if (v.kind == TraceValue::Kind::kHex || v.kind == TraceValue::Kind::kBytes) return raw.substr(1, raw.size() - 2);
    return raw;
}

std::string_view TraceEntry::Text(std::string_view name) const {
    const TraceValue& v = Value(name);
    return v.kind == TraceValue::Kind::kText ? std::string_view(v.text) : std::string_view();
}

std::int64_t TraceEntry::Num(std::string_view name) const {
    const TraceValue& v = Value(name);
    switch (v.kind) {
        case TraceValue::Kind::kBool:
        case TraceValue::Kind::kInt:
        case TraceValue::Kind::kHex:
            return v.number;
        case TraceValue::Kind::kText:
            return std::strtoll(v.text.c_str(), nullptr, 0);
        default:
            return 0;
    }
}

std::vector<TraceEntry> Trace::Calls(std::string_view call) const {
    std::vector<TraceEntry> out;
    for (const auto& e : entries_)
        if (e.call == call) out.push_back(e);
    return out;
}

void Trace::Only(std::vector<std::string> calls) {
    only_ = std::move(calls);
    std::sort(only_.begin(), only_.end());
}

bool Trace::Wants(const char* call) const {
    return only_.empty() || std::binary_search(only_.begin(), only_.end(), std::string_view(call));
}

std::size_t Trace::Begin(const char* call, Millis t) {
    TraceEntry& entry = entries_.emplace_back();
    entry.t = t;
    entry.call = call;
    if (!keep_) {
        if (done_.size() + 1 == entries_.size())
            done_.push_back(0);
        else
            done_.resize(entries_.size(), 0);
    }
    return entries_.size() - 1;
}

void Trace::Finish(std::size_t index) {
    if (index >= entries_.size()) return;
    AddPlainFields(entries_[index], *this);
    if (out_) *out_ << entries_[index].Json() << '\n' << std::flush;
    if (observer_) observer_(entries_[index]);
    if (keep_) return;
    // Calls finish innermost first, so what is finished sits at the end.
    if (done_.size() != entries_.size()) done_.resize(entries_.size(), 0);
    done_[index] = 1;
    while (!entries_.empty() && done_.back()) {
        entries_.pop_back();
        done_.pop_back();
    }
}

const std::string* Trace::HandleName(std::uintptr_t handle) const {
    auto it = names_.find(handle);
    return it == names_.end() ? nullptr : &it->second;
}

void Trace::NameHandle(std::uintptr_t handle, std::string_view name) { names_[handle].assign(name); }

void Trace::ForgetHandle(std::uintptr_t handle) { names_.erase(handle); }

const std::vector<std::string_view>& Faults::Failable() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const CallInfo& call : AllCalls())
            if (call.fails) out.push_back(call.name);
        std::sort(out.begin(), out.end());
        return out;
    }();
    return names;
}

bool Faults::FailNext(const std::string& call, int count, DWORD error, int skip) {
    const auto& failable = Failable();
    if (!std::binary_search(failable.begin(), failable.end(), std::string_view(call))) return false;
    if (count <= 0) {
        pending_.erase(call);
        return true;
    }
    pending_[call] = {skip < 0 ? 0 : skip, count, error};
    return true;
}

bool Faults::Take(const char* call, DWORD* error) {
    auto it = pending_.find(std::string_view(call));
    if (it == pending_.end()) return false;
    Pending& p = it->second;
    if (p.skip > 0) {
        --p.skip;
        return false;
    }
    *error = p.error;
    if (--p.count == 0) pending_.erase(it);
    return true;
}

bool Faults::Arm(std::string_view spec, std::string* problem) {
    // A whole number, decimal or 0x hex, and nothing else.
    auto number = [](std::string_view text, std::int64_t* out) {
        std::string s(text);
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(s.c_str(), &end, 0);
        if (s.empty() || *end || errno || v < 0 || v > 0xFFFFFFFFLL || !std::isdigit(static_cast<unsigned char>(s[0])))
            return false;
        *out = v;
        return true;
    };
    struct Armed {
        std::string call;
        int count;
        DWORD error;
    };
    std::vector<Armed> armed;
    const auto& failable = Failable();
    for (std::size_t i = 0; i <= spec.size();) {
        std::size_t end = std::min(spec.find(',', i), spec.size());
        std::string_view item = spec.substr(i, end - i);
        i = end + 1;
        if (item.empty()) continue;
        std::string_view parts[3];
        std::size_t n = 0;
        for (std::size_t j = 0; j <= item.size() && n <= 3;) {
            std::size_t stop = std::min(item.find(':', j), item.size());
            if (n < 3) parts[n] = item.substr(j, stop - j);
            ++n;
            j = stop + 1;
        }
        std::int64_t count = 1, error = ERROR_GEN_FAILURE;
        if (n > 3 || !std::binary_search(failable.begin(), failable.end(), parts[0]) ||
            (n > 1 && (!number(parts[1], &count) || count == 0)) || (n > 2 && !number(parts[2], &error))) {
            *problem = "'" + std::string(item) + "' is not FUNCTION[:COUNT[:ERROR]] with a function that can fail";
            return false;
        }
        armed.push_back({std::string(parts[0]), static_cast<int>(std::min<std::int64_t>(count, 1 << 30)),
                         static_cast<DWORD>(error)});
    }
    for (const auto& a : armed)
        FailNext(a.call, a.count, a.error);
    return true;
}

ApiCall::ApiCall(const char* name) : name_(name) {
    Millis now = 0;
    if (Trace* trace = RecordingTrace(name, &now)) {
        trace_ = trace;
        index_ = trace_->Begin(name, now);
    }
}

ApiCall::~ApiCall() {
    if (!trace_) return;
    // The trace may have been cleared by whoever ran inside a modal call.
    if (index_ < trace_->entries().size()) trace_->Finish(index_);
    if (forget_) trace_->ForgetHandle(*forget_);
}

namespace {
TraceEntry discarded;
}  // namespace

TraceEntry& ApiCall::Discarded() { return discarded = TraceEntry{}; }

ApiCall& ApiCall::ArgW(std::string_view name, const WCHAR* s) {
    if (!trace_) return *this;
    if (!s) return Arg(name, TraceValue::Null());
    json::AppendUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s)), Text(name, TraceValue::Kind::kText));
    return *this;
}

ApiCall& ApiCall::ArgKey(std::string_view name, HKEY key) {
    if (!trace_) return *this;
    if (const char* root = RootKeyName(key)) {
        Text(name, TraceValue::Kind::kText).assign(root);
        return *this;
    }
    return ArgPtr(name, key);
}

ApiCall& ApiCall::ArgPtr(std::string_view name, const void* p) {
    if (trace_) Number(name, TraceValue::Kind::kInt, static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(p)));
    return *this;
}

ApiCall& ApiCall::ArgMem(std::string_view name, const void* p) {
    if (!trace_) return *this;
    if (!p) return Arg(name, TraceValue::Null());
    Text(name, TraceValue::Kind::kText).assign("given");
    return *this;
}

ApiCall& ApiCall::ArgBytes(std::string_view name, const void* data, std::size_t n) {
    if (!trace_) return *this;
    if (!data) return Arg(name, TraceValue::Null());
    Text(name, TraceValue::Kind::kBytes).assign(static_cast<const char*>(data), n);
    return *this;
}

ApiCall& ApiCall::NamesResult(const WCHAR* device) {
    if (trace_ && device) result_name_ = Wide(device).text;
    return *this;
}

void ApiCall::NameResult(std::uintptr_t handle) {
    if (handle == 0 || handle == reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE)) return;
    trace_->NameHandle(handle, result_name_);
    result_name_.clear();
}

ApiCall& ApiCall::NameKey(HKEY opened, HKEY base, const WCHAR* subkey) {
    if (!trace_ || !opened || RootKeyName(opened)) return *this;
    const char* root = RootKeyName(base);
    const std::string* known = root ? nullptr : trace_->HandleName(reinterpret_cast<std::uintptr_t>(base));
    if (!root && !known) return *this;
    const std::string_view base_name = root ? std::string_view(root) : std::string_view(*known);
    const std::u16string_view sub = subkey ? std::u16string_view(reinterpret_cast<const char16_t*>(subkey)) : u"";
    std::string path(base_name);
    const std::string rest = json::Utf8(sub);
    // Doubled and trailing separators name nothing.
    for (std::size_t i = 0; i < rest.size();) {
        std::size_t end = std::min(rest.find('\\', i), rest.size());
        if (end > i) path.append(1, '\\').append(rest, i, end - i);
        i = end + 1;
    }
    trace_->NameHandle(reinterpret_cast<std::uintptr_t>(opened), path);
    return *this;
}

ApiCall& ApiCall::ForgetName(const void* handle) {
    if (trace_) forget_ = reinterpret_cast<std::uintptr_t>(handle);
    return *this;
}

bool ApiCall::Injected(DWORD* error) {
    Faults* faults = ArmedFaults();
    if (!faults || !faults->Take(name_, error)) return false;
    if (trace_) entry().args.emplace_back("injected", TraceValue::Bool(true));
    SetLastError(*error);
    return true;
}

TraceValue Wide(const WCHAR* s) {
    static_assert(sizeof(WCHAR) == sizeof(char16_t), "the seam's characters are 16 bits wide");
    if (!s) return TraceValue::Null();
    return TraceValue::Text(json::Utf8(std::u16string_view(reinterpret_cast<const char16_t*>(s))));
}

namespace {

DWORD FlagWord(const DCB& d) {
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&d) + offsetof(DCB, BaudRate) + sizeof(DWORD), sizeof flags);
    return flags;
}

}  // namespace

void DcbFields(ApiCall& c, const DCB& d) {
    c.Arg("DCBlength", d.DCBlength).Arg("BaudRate", d.BaudRate).ArgHex("flags", FlagWord(d));
    c.Arg("fDtrControl", d.fDtrControl).Arg("fRtsControl", d.fRtsControl);
    c.Arg("ByteSize", d.ByteSize).Arg("Parity", d.Parity).Arg("StopBits", d.StopBits);
}

void TimeoutFields(ApiCall& c, const COMMTIMEOUTS& t) {
    c.Arg("ReadIntervalTimeout", t.ReadIntervalTimeout).Arg("ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier);
    c.Arg("ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant);
    c.Arg("WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier);
    c.Arg("WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant);
}

}  // namespace tracing
