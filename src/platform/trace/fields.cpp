// The plain fields of a record, each derived here from the call's Win32 arguments and facts, so
// that readers find `key`, `text`, `ms` ... without knowing each call's parameter names.
#include <cctype>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/trace/trace.h"

namespace tracing {
namespace {

using Value = TraceValue;

Value RegType(std::int64_t type) {
    switch (type) {
        case REG_NONE:
            return Value::Text("REG_NONE");
        case REG_SZ:
            return Value::Text("REG_SZ");
        case REG_EXPAND_SZ:
            return Value::Text("REG_EXPAND_SZ");
        case REG_BINARY:
            return Value::Text("REG_BINARY");
        case REG_DWORD:
            return Value::Text("REG_DWORD");
        case REG_MULTI_SZ:
            return Value::Text("REG_MULTI_SZ");
        case 11:
            return Value::Text("REG_QWORD");
        default:
            return Value::Int(type);
    }
}

// A REG_DWORD as a number, a string type as its text (without its terminating nulls), anything
// else as its bytes.
Value RegData(std::int64_t type, const Value& data) {
    if (data.kind != Value::Kind::kBytes) return Value::Null();
    // Little-endian, as both platforms keep registry data.
    const std::string& b = data.text;
    auto byte = [&b](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(b[i])); };
    if (type == REG_DWORD && b.size() == 4) return Value::Int(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < b.size(); i += 2)
            text += static_cast<char16_t>(byte(i) | byte(i + 1) << 8);
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        return Value::Text(json::Utf8(text));
    }
    return data;
}

// The request's 32-bit words, little-endian; the last one may be short.
void Words(const Value& data, Value& out) {
    if (data.kind != Value::Kind::kBytes) return;
    out.kind = Value::Kind::kList;
    for (std::size_t i = 0; i < data.text.size(); i += 4) {
        std::uint32_t w = 0;
        std::memcpy(&w, data.text.data() + i, std::min<std::size_t>(4, data.text.size() - i));
        out.list.push_back(w);
    }
}

bool IsSerialPort(const std::string& name) {
    const char* com = "com";
    for (int i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != com[i]) return false;
    return true;
}

class Deriver {
public:
    // No rule adds more than kMostFields: with room for them made first, the values a rule reads
    // stay where they are while it adds its fields.
    static constexpr std::size_t kMostFields = 4;
    Deriver(TraceEntry& e, const Trace& trace) : e_(e), trace_(trace) { e_.args.reserve(e_.args.size() + kMostFields); }

    void Copy(std::string_view plain, std::string_view from) { Slot(plain) = e_.Value(from); }
    void Number(std::string_view plain, std::string_view from) { Add(plain, Value::Int(e_.Num(from))); }
    // The name of the handle in `from`: "COM1:" for a device, the full path for a registry key.
    void Name(std::string_view plain, std::string_view from) {
        const Value& v = e_.Value(from);
        if (v.kind == Value::Kind::kText) return Copy(plain, from);  // a predefined root
        const std::string* name = trace_.HandleName(static_cast<std::uintptr_t>(v.number));
        Value& out = Slot(plain);
        if (!name) return;
        out.kind = Value::Kind::kText;
        out.text.assign(*name);
    }
    // The bytes in `from` as escaped text, for a serial port's traffic only.
    void SerialText(std::string_view plain, std::string_view handle, std::string_view from) {
        const std::string* name = trace_.HandleName(static_cast<std::uintptr_t>(e_.Num(handle)));
        const Value& data = e_.Value(from);
        if (!name || name->size() <= 3 || !IsSerialPort(*name)) return;
        if (data.kind == Value::Kind::kBytes)
            Add(plain, Value::Text(json::EscapedText(data.text.data(), data.text.size())));
    }
    void Add(std::string_view plain, Value v) { Slot(plain) = std::move(v); }
    // A new null field, at the end of the entry.
    Value& Slot(std::string_view plain) {
        auto& field = e_.args.emplace_back();
        field.first = plain;
        return field.second;
    }

    TraceEntry& e_;

private:
    const Trace& trace_;
};

using Rule = void (*)(Deriver&);

const std::unordered_map<std::string_view, Rule>& Rules() {
    static const std::unordered_map<std::string_view, Rule> rules = {
        {"CheckMenuItem",
         [](Deriver& d) {
             d.Number("id", "uIDCheckItem");
             d.Add("checked", Value::Bool(d.e_.Num("uCheck") & MF_CHECKED));
         }},
        {"CloseHandle", [](Deriver& d) { d.Name("device", "hObject"); }},
        {"DeviceIoControl",
         [](Deriver& d) {
             d.Name("device", "hDevice");
             d.Copy("code", "dwIoControlCode");
             Words(d.e_.Value("lpInBuffer"), d.Slot("in"));
         }},
        {"GpioRead", [](Deriver& d) { d.Number("value", "Value"); }},
        {"GpioWrite", [](Deriver& d) { d.Number("value", "Value"); }},
        {"KernelIoControl", [](Deriver& d) { d.Copy("code", "dwIoControlCode"); }},
        {"KillTimer", [](Deriver& d) { d.Copy("id", "uIDEvent"); }},
        {"MessageBox",
         [](Deriver& d) {
             d.Copy("text", "lpText");
             d.Copy("caption", "lpCaption");
             d.Number("type", "uType");
         }},
        {"ReadFile",
         [](Deriver& d) {
             d.Name("device", "hFile");
             d.SerialText("text", "hFile", "data");
         }},
        {"RegSetValueEx",
         [](Deriver& d) {
             d.Name("key", "hKey");
             d.Copy("name", "lpValueName");
             d.Add("type", RegType(d.e_.Num("dwType")));
             d.Add("data", RegData(d.e_.Num("dwType"), d.e_.Value("lpData")));
         }},
        {"SetTimer",
         [](Deriver& d) {
             d.Copy("id", "nIDEvent");
             d.Copy("ms", "uElapse");
         }},
        {"Shell_NotifyIcon",
         [](Deriver& d) {
             std::int64_t m = d.e_.Num("dwMessage");
             d.Add("op", m == NIM_ADD      ? Value::Text("add")
                         : m == NIM_MODIFY ? Value::Text("modify")
                         : m == NIM_DELETE ? Value::Text("delete")
                                           : Value::Int(m));
         }},
        {"Sleep", [](Deriver& d) { d.Copy("ms", "dwMilliseconds"); }},
        {"TrackPopupMenu", [](Deriver& d) { d.Number("flags", "uFlags"); }},
        {"WriteFile",
         [](Deriver& d) {
             d.Name("device", "hFile");
             d.SerialText("text", "hFile", "lpBuffer");
         }},
    };
    return rules;
}

}  // namespace

const char* RootKeyName(HKEY key) {
    // The roots are sign-extended 32-bit values.
    switch (static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(key))) {
        case 0x80000000u:
            return "HKEY_CLASSES_ROOT";
        case 0x80000001u:
            return "HKEY_CURRENT_USER";
        case 0x80000002u:
            return "HKEY_LOCAL_MACHINE";
        case 0x80000003u:
            return "HKEY_USERS";
        default:
            return nullptr;
    }
}

void AddPlainFields(TraceEntry& entry, const Trace& trace) {
    auto it = Rules().find(entry.call);
    if (it == Rules().end()) return;
    Deriver d(entry, trace);
    it->second(d);
}

}  // namespace tracing
