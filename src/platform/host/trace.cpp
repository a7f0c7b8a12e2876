#include "platform/host/trace.h"

#include <cstdio>
#include <cstdlib>

#include "platform/host/handheld.h"

namespace host {

namespace json {

std::string Quote(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(static_cast<char32_t>(c), out);
    }
    return out;
}

std::u16string Utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra >= 0 && i + extra < utf8.size()) {
            cp = extra == 0 ? c : c & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                auto more = static_cast<unsigned char>(utf8[i + k]);
                if ((more & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    extra = k - 1;
                    break;
                }
                cp = (cp << 6) | (more & 0x3F);
            }
        } else {
            extra = 0;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Wide(const WCHAR* s) {
    if (!s) return "null";
    return Quote(Utf8(std::u16string_view(s)));
}

std::string Wide(const WCHAR* s, std::size_t n) {
    if (!s) return "null";
    return Quote(Utf8(std::u16string_view(s, n)));
}

std::string Key(HKEY key) {
    // The roots are sign-extended 32-bit values.
    switch (static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(key))) {
        case 0x80000000u:
            return "\"HKEY_CLASSES_ROOT\"";
        case 0x80000001u:
            return "\"HKEY_CURRENT_USER\"";
        case 0x80000002u:
            return "\"HKEY_LOCAL_MACHINE\"";
        case 0x80000003u:
            return "\"HKEY_USERS\"";
        default:
            return Handle(key);
    }
}

std::string Handle(const void* h) {
    if (!h) return "0";
    auto v = reinterpret_cast<std::intptr_t>(h);
    return std::to_string(v);
}

std::string Bytes(const void* data, std::size_t n) {
    if (!data) return "null";
    static const char* digits = "0123456789abcdef";
    std::string out = "\"";
    auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    out += '"';
    return out;
}

std::string EscapedText(const void* data, std::size_t n) {
    std::string out;
    if (!data) return out;
    auto* p = static_cast<const unsigned char*>(data);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += static_cast<char>(c);
                } else {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02X", c);
                    out += buf;
                }
        }
    }
    return out;
}

std::string RegData(DWORD type, const BYTE* data, std::size_t n) {
    if (!data) return "null";
    if (type == REG_DWORD && n == 4) {
        DWORD v = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 | static_cast<DWORD>(data[2]) << 16 |
                  static_cast<DWORD>(data[3]) << 24;
        return std::to_string(v);
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < n; i += 2)
            text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        return Quote(Utf8(text));
    }
    return Bytes(data, n);
}

std::string RegType(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "\"REG_NONE\"";
        case REG_SZ:
            return "\"REG_SZ\"";
        case REG_EXPAND_SZ:
            return "\"REG_EXPAND_SZ\"";
        case REG_BINARY:
            return "\"REG_BINARY\"";
        case REG_DWORD:
            return "\"REG_DWORD\"";
        case REG_MULTI_SZ:
            return "\"REG_MULTI_SZ\"";
        case 11:
            return "\"REG_QWORD\"";
        default:
            return std::to_string(type);
    }
}

}  // namespace json

std::string TraceEntry::Json() const {
    std::string out = "{\"t\":" + std::to_string(t) + ",\"call\":" + json::Quote(call);
    for (const auto& [name, value] : args)
        out += "," + json::Quote(name) + ":" + value;
    if (!result.empty()) out += ",\"result\":" + result;
    out += "}";
    return out;
}

bool TraceEntry::Has(std::string_view name) const {
    for (const auto& a : args)
        if (a.first == name) return true;
    return false;
}

const std::string& TraceEntry::Raw(std::string_view name) const {
    static const std::string empty;
    if (name == "result") return result;
    for (const auto& a : args)
        if (a.first == name) return a.second;
    return empty;
}

std::string TraceEntry::Str(std::string_view name) const {
    const std::string& raw = Raw(name);
    if (raw.size() < 2 || raw.front() != '"') return raw;
    std::string out;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        char c = raw[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        char e = raw[++i];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                out += static_cast<char>(std::strtol(raw.substr(i + 1, 4).c_str(), nullptr, 16));
                i += 4;
                break;
            }
            default:
                out += e;
        }
    }
    return out;
}

std::int64_t TraceEntry::Num(std::string_view name) const { return std::strtoll(Raw(name).c_str(), nullptr, 10); }

std::vector<TraceEntry> Trace::Calls(std::string_view call) const {
    std::vector<TraceEntry> out;
    for (const auto& e : entries_)
        if (e.call == call) out.push_back(e);
    return out;
}

bool Trace::Wants(const char* call) const {
    if (only_.empty()) return true;
    for (const auto& name : only_)
        if (name == call) return true;
    return false;
}

std::size_t Trace::Begin(TraceEntry entry) {
    entries_.push_back(std::move(entry));
    if (!keep_) done_.resize(entries_.size(), false);
    return entries_.size() - 1;
}

void Trace::Finish(std::size_t index) {
    if (index >= entries_.size()) return;
    if (out_) *out_ << entries_[index].Json() << '\n' << std::flush;
    if (observer_) observer_(entries_[index]);
    if (keep_) return;
    // Calls finish innermost first, so what is finished sits at the end.
    done_.resize(entries_.size(), false);
    done_[index] = true;
    while (!entries_.empty() && done_.back()) {
        entries_.pop_back();
        done_.pop_back();
    }
}

const std::string* Trace::HandleName(std::uintptr_t handle) const {
    auto it = names_.find(handle);
    return it == names_.end() ? nullptr : &it->second;
}

void Trace::NameHandle(std::uintptr_t handle, std::string name) { names_[handle] = std::move(name); }

void Faults::FailNext(const std::string& call, int count, DWORD error, int skip) {
    if (count <= 0) {
        pending_.erase(call);
        return;
    }
    pending_[call] = {skip < 0 ? 0 : skip, count, error};
}

bool Faults::Take(const char* call, DWORD* error) {
    if (pending_.empty()) return false;
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

ApiCall::ApiCall(const char* name) : name_(name) {
    Handheld* h = Handheld::IfBooted();
    if (h && h->trace().enabled() && h->trace().Wants(name)) {
        trace_ = &h->trace();
        TraceEntry e;
        e.t = h->clock().Now();
        e.call = name;
        index_ = trace_->Begin(std::move(e));
    }
}

ApiCall::~ApiCall() {
    // The trace may have been cleared by whoever ran inside a modal call.
    if (trace_ && index_ < trace_->entries().size()) trace_->Finish(index_);
}

TraceEntry& ApiCall::entry() {
    static TraceEntry discarded;
    if (index_ >= trace_->entries().size()) return discarded = TraceEntry{};
    return trace_->At(index_);
}

ApiCall& ApiCall::Arg(const char* name, std::string json_value) {
    if (trace_) entry().args.emplace_back(name, std::move(json_value));
    return *this;
}

ApiCall& ApiCall::Arg(const char* name, std::int64_t v) {
    if (trace_) entry().args.emplace_back(name, std::to_string(v));
    return *this;
}

ApiCall& ApiCall::ArgW(const char* name, const WCHAR* s) {
    if (trace_) entry().args.emplace_back(name, json::Wide(s));
    return *this;
}

ApiCall& ApiCall::ArgKey(const char* name, HKEY key) {
    if (trace_) entry().args.emplace_back(name, json::Key(key));
    return *this;
}

ApiCall& ApiCall::ArgPtr(const char* name, const void* p) {
    if (trace_) entry().args.emplace_back(name, json::Handle(p));
    return *this;
}

ApiCall& ApiCall::ArgMem(const char* name, const void* p) {
    if (trace_) entry().args.emplace_back(name, p ? "\"given\"" : "null");
    return *this;
}

ApiCall& ApiCall::ArgHex(const char* name, std::uint64_t v) {
    if (trace_) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "\"0x%llX\"", static_cast<unsigned long long>(v));
        entry().args.emplace_back(name, buf);
    }
    return *this;
}

ApiCall& ApiCall::ArgName(const char* name, const void* handle) {
    if (!trace_) return *this;
    const std::string* known = trace_->HandleName(reinterpret_cast<std::uintptr_t>(handle));
    entry().args.emplace_back(name, known ? json::Quote(*known) : "null");
    return *this;
}

ApiCall& ApiCall::ArgKeyPath(const char* name, HKEY key) {
    if (!trace_) return *this;
    std::string root = json::Key(key);
    if (root.front() == '"') {
        entry().args.emplace_back(name, std::move(root));
        return *this;
    }
    return ArgName(name, key);
}

ApiCall& ApiCall::ArgSerialText(const char* name, const void* handle, const void* data, std::size_t n) {
    if (!trace_) return *this;
    const std::string* known = trace_->HandleName(reinterpret_cast<std::uintptr_t>(handle));
    if (known && known->size() > 3 && (known->compare(0, 3, "COM") == 0 || known->compare(0, 3, "com") == 0))
        entry().args.emplace_back(name, json::Quote(json::EscapedText(data, n)));
    return *this;
}

ApiCall& ApiCall::NamesResult(const WCHAR* device) {
    if (trace_ && device) result_name_ = json::Utf8(device);
    return *this;
}

void ApiCall::NameResult(std::uintptr_t handle) {
    if (handle == 0 || handle == reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE)) return;
    trace_->NameHandle(handle, std::move(result_name_));
    result_name_.clear();
}

ApiCall& ApiCall::NameKey(HKEY opened, HKEY base, const WCHAR* subkey) {
    if (!trace_ || !opened) return *this;
    std::string path;
    std::string root = json::Key(base);
    if (root.front() == '"') {
        path = root.substr(1, root.size() - 2);
    } else if (const std::string* known = trace_->HandleName(reinterpret_cast<std::uintptr_t>(base))) {
        path = *known;
    } else {
        return *this;
    }
    // Doubled and trailing separators name nothing.
    std::string rest = subkey ? json::Utf8(subkey) : std::string();
    std::size_t i = 0;
    while (i < rest.size()) {
        std::size_t end = rest.find('\\', i);
        if (end == std::string::npos) end = rest.size();
        if (end > i) path += "\\" + rest.substr(i, end - i);
        i = end + 1;
    }
    if (json::Key(opened).front() != '"') trace_->NameHandle(reinterpret_cast<std::uintptr_t>(opened), std::move(path));
    return *this;
}

ApiCall& ApiCall::ForgetName(const void* handle) {
    if (trace_) trace_->ForgetHandle(reinterpret_cast<std::uintptr_t>(handle));
    return *this;
}

bool ApiCall::Injected(DWORD* error) {
    Handheld* h = Handheld::IfBooted();
    if (!h || !h->faults().Take(name_, error)) return false;
    if (trace_) entry().args.emplace_back("injected", "true");
    SetLastError(*error);
    return true;
}

}  // namespace host
