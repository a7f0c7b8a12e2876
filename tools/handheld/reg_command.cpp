#include "handheld/reg_command.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "handheld/text.h"

namespace handheld {
namespace {

constexpr DWORD kRegQword = 11;
const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

struct Root {
    const char* short_name;
    const char* full_name;
    HKEY key;
};

const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
};

struct TypeName {
    const char* name;
    DWORD type;
};

const TypeName kTypes[] = {
    {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_DWORD", REG_DWORD}, {"REG_QWORD", kRegQword},         {"REG_BINARY", REG_BINARY},
    {"REG_NONE", REG_NONE},
};

std::string TypeText(DWORD type) {
    for (const auto& t : kTypes)
        if (t.type == type) return t.name;
    return "REG_" + std::to_string(type);
}

bool SameNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void SplitKey(const std::string& text, RegCommand* c) {
    std::size_t slash = text.find('\\');
    std::string root = text.substr(0, slash);
    for (const auto& r : kRoots) {
        if (!SameNoCase(root, r.short_name) && !SameNoCase(root, r.full_name)) continue;
        c->root = r.key;
        c->key = r.full_name;
        std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
        for (std::size_t i = 0; i < rest.size();) {
            std::size_t end = rest.find('\\', i);
            if (end == std::string::npos) end = rest.size();
            if (end > i) {
                if (!c->path.empty()) c->path += '\\';
                c->path += rest.substr(i, end - i);
            }
            i = end + 1;
        }
        if (!c->path.empty()) c->key += "\\" + c->path;
        return;
    }
    throw RegSyntaxError("Invalid key name: " + text + " (the root must be HKLM, HKCU, HKCR or HKU)");
}

// Each switch once; the ones an operation does not take are refused.
RegCommand Parse(const std::vector<std::string>& args) {
    if (args.empty()) throw RegSyntaxError("missing operation: add, delete or query");
    RegCommand c;
    const std::string& op = args[0];
    std::string allowed;
    if (SameNoCase(op, "add")) {
        c.operation = RegCommand::Operation::kAdd;
        allowed = "/v /ve /t /s /d /f";
    } else if (SameNoCase(op, "delete")) {
        c.operation = RegCommand::Operation::kDelete;
        allowed = "/v /ve /va /f";
    } else if (SameNoCase(op, "query")) {
        c.operation = RegCommand::Operation::kQuery;
        allowed = "/v /ve /s";
    } else {
        throw RegSyntaxError("unknown operation '" + op + "': add, delete or query");
    }
    if (args.size() < 2) throw RegSyntaxError("missing key name");
    SplitKey(args[1], &c);

    bool have_type = false, have_data = false, have_separator = false;
    std::vector<std::string> seen;
    for (std::size_t i = 2; i < args.size(); ++i) {
        std::string sw = args[i];
        for (auto& ch : sw)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (sw.size() < 2 || (sw[0] != '/' && sw[0] != '-'))
            throw RegSyntaxError("unexpected argument '" + args[i] + "'");
        sw[0] = '/';
        if ((" " + allowed + " ").find(" " + sw + " ") == std::string::npos)
            throw RegSyntaxError("reg " + op + " does not take " + args[i]);
        for (const auto& s : seen)
            if (s == sw) throw RegSyntaxError(args[i] + " given twice");
        seen.push_back(sw);
        auto operand = [&]() -> std::string {
            if (i + 1 >= args.size()) throw RegSyntaxError(args[i] + " needs a value");
            return args[++i];
        };
        if (sw == "/v") {
            if (c.value || c.all_values) throw RegSyntaxError("only one of /v, /ve and /va");
            c.value = operand();
        } else if (sw == "/ve") {
            if (c.value || c.all_values) throw RegSyntaxError("only one of /v, /ve and /va");
            c.value = "";
        } else if (sw == "/va") {
            if (c.value) throw RegSyntaxError("only one of /v, /ve and /va");
            c.all_values = true;
        } else if (sw == "/t") {
            std::string name = operand();
            bool known = false;
            for (const auto& t : kTypes)
                if (SameNoCase(name, t.name)) c.type = t.type, known = true;
            if (!known) throw RegSyntaxError("unknown type '" + name + "'");
            have_type = true;
        } else if (sw == "/d") {
            c.data = operand();
            have_data = true;
        } else if (sw == "/s") {
            if (c.operation == RegCommand::Operation::kQuery) {
                c.recurse = true;
            } else {
                c.separator = operand();
                if (c.separator.empty()) throw RegSyntaxError("/s needs a separator");
                have_separator = true;
            }
        }
    }
    if (c.operation == RegCommand::Operation::kAdd && !c.value && (have_type || have_data))
        throw RegSyntaxError("/t and /d need /v or /ve");
    if (have_separator && c.type != REG_MULTI_SZ) throw RegSyntaxError("/s is for REG_MULTI_SZ only");
    return c;
}

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > max) return false;
    *out = v;
    return true;
}

std::vector<BYTE> Utf16Bytes(const std::u16string& text) {
    std::vector<BYTE> out;
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    return out;
}

// The value's bytes from /d, or a message saying why the data does not fit the type.
std::vector<BYTE> Encode(const RegCommand& c, std::string* problem) {
    std::vector<BYTE> bytes;
    switch (c.type) {
        case REG_DWORD:
        case kRegQword: {
            std::uint64_t v = 0;
            bool qword = c.type == kRegQword;
            if (!ParseNumber(c.data.empty() ? "0" : c.data, qword ? UINT64_MAX : 0xFFFFFFFFull, &v)) {
                *problem = "Invalid " + TypeText(c.type) + " data: " + c.data;
                return {};
            }
            for (int i = 0; i < (qword ? 8 : 4); ++i)
                bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
            return bytes;
        }
        case REG_BINARY:
        case REG_NONE: {
            if (c.data.size() % 2) {
                *problem = "Invalid binary data (an even count of hex digits): " + c.data;
                return {};
            }
            for (std::size_t i = 0; i < c.data.size(); i += 2) {
                std::uint64_t v = 0;
                if (!std::isxdigit(static_cast<unsigned char>(c.data[i])) ||
                    !std::isxdigit(static_cast<unsigned char>(c.data[i + 1])) ||
                    !ParseNumber("0x" + c.data.substr(i, 2), 0xFF, &v)) {
                    *problem = "Invalid binary data: " + c.data;
                    return {};
                }
                bytes.push_back(static_cast<BYTE>(v));
            }
            return bytes;
        }
        case REG_MULTI_SZ: {
            std::u16string text;
            std::string rest = c.data;
            while (!rest.empty()) {
                std::size_t at = rest.find(c.separator);
                text += Utf16(rest.substr(0, at));
                text += u'\0';
                rest = at == std::string::npos ? "" : rest.substr(at + c.separator.size());
            }
            text += u'\0';
            return Utf16Bytes(text);
        }
        default: {
            std::u16string text = Utf16(c.data);
            text += u'\0';
            return Utf16Bytes(text);
        }
    }
}

std::string Hex(const std::vector<BYTE>& data) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (BYTE b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::u16string Utf16Text(const std::vector<BYTE>& data) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    return text;
}

// As reg.exe shows data: numbers in 0x hex, binary in hex digits, multi-strings joined by \0.
std::string Shown(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
        case REG_DWORD:
        case kRegQword: {
            if (data.size() != (type == REG_DWORD ? 4u : 8u)) return Hex(data);
            std::uint64_t v = 0;
            for (std::size_t i = 0; i < data.size(); ++i)
                v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
            return buf;
        }
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::u16string text = Utf16Text(data);
            std::size_t end = text.find(u'\0');
            return Utf8(end == std::u16string::npos ? text : text.substr(0, end));
        }
        case REG_MULTI_SZ: {
            std::u16string text = Utf16Text(data);
            while (!text.empty() && text.back() == u'\0')
                text.pop_back();
            std::string out;
            std::size_t i = 0;
            for (;;) {
                std::size_t end = text.find(u'\0', i);
                out += Utf8(text.substr(i, end - i));
                if (end == std::u16string::npos) break;
                out += "\\0";
                i = end + 1;
            }
            return out;
        }
        default:
            return Hex(data);
    }
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

LONG Open(HKEY root, const std::string& path, Key* key) {
    return RegOpenKeyEx(root, Utf16(path).c_str(), 0, KEY_ALL_ACCESS, key->out());
}

std::vector<std::u16string> SubkeyNames(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD size = 256;
        if (RegEnumKeyEx(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    return names;
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::vector<Value> Values(HKEY key) {
    std::vector<Value> values;
    for (DWORD i = 0;; ++i) {
        WCHAR name[16384];
        DWORD name_size = 16384, type = 0, size = 0;
        if (RegEnumValue(key, i, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Value v;
        v.data.resize(size);
        name_size = 16384;
        if (RegEnumValue(key, i, name, &name_size, nullptr, &type, size ? v.data.data() : nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        v.name.assign(name, name_size);
        v.type = type;
        v.data.resize(size);
        values.push_back(std::move(v));
    }
    return values;
}

std::string ValueLine(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    return "    " + (name.empty() ? std::string("(Default)") : Utf8(name)) + "    " + TypeText(type) + "    " +
           Shown(type, data) + "\n";
}

void QueryTree(HKEY key, const std::string& shown, bool recurse, std::string* out) {
    *out += shown + "\n";
    for (const Value& v : Values(key))
        *out += ValueLine(v.name, v.type, v.data);
    std::vector<std::u16string> subkeys = SubkeyNames(key);
    if (!recurse) {
        if (!subkeys.empty()) *out += "\n";
        for (const auto& s : subkeys)
            *out += shown + "\\" + Utf8(s) + "\n";
        return;
    }
    for (const auto& s : subkeys) {
        Key child;
        if (RegOpenKeyEx(key, s.c_str(), 0, KEY_ALL_ACCESS, child.out()) != ERROR_SUCCESS) continue;
        *out += "\n";
        QueryTree(child.get(), shown + "\\" + Utf8(s), true, out);
    }
}

LONG DeleteTree(HKEY parent, const std::u16string& name) {
    {
        Key key;
        if (LONG r = RegOpenKeyEx(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.out())) return r;
        for (const auto& s : SubkeyNames(key.get()))
            if (LONG r = DeleteTree(key.get(), s)) return r;
    }
    return RegDeleteKey(parent, name.c_str());
}

RegOutcome Fail(const std::string& message) { return RegOutcome{1, "", message}; }

RegOutcome Done() { return RegOutcome{0, "The operation completed successfully.\n", ""}; }

RegOutcome Add(const RegCommand& c) {
    std::string problem;
    std::vector<BYTE> bytes;
    if (c.value) {
        bytes = Encode(c, &problem);
        if (!problem.empty()) return Fail("ERROR: " + problem + "\n");
    }
    Key key;
    DWORD disposition = 0;
    if (RegCreateKeyEx(c.root, Utf16(c.path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(),
                       &disposition) != ERROR_SUCCESS)
        return Fail("ERROR: Access is denied.\n");
    if (c.value && RegSetValueEx(key.get(), Utf16(*c.value).c_str(), 0, c.type, bytes.empty() ? nullptr : bytes.data(),
                                 static_cast<DWORD>(bytes.size())) != ERROR_SUCCESS)
        return Fail("ERROR: Access is denied.\n");
    return Done();
}

RegOutcome Delete(const RegCommand& c) {
    if (!c.value && !c.all_values) {
        if (c.path.empty()) return Fail("ERROR: A root key cannot be deleted.\n");
        std::size_t cut = c.path.rfind('\\');
        Key parent;
        std::string parent_path = cut == std::string::npos ? "" : c.path.substr(0, cut);
        if (Open(c.root, parent_path, &parent) != ERROR_SUCCESS) return Fail(kNotFound);
        LONG r = DeleteTree(parent.get(), Utf16(cut == std::string::npos ? c.path : c.path.substr(cut + 1)));
        if (r == ERROR_FILE_NOT_FOUND) return Fail(kNotFound);
        if (r != ERROR_SUCCESS) return Fail("ERROR: Access is denied.\n");
        return Done();
    }
    Key key;
    if (Open(c.root, c.path, &key) != ERROR_SUCCESS) return Fail(kNotFound);
    if (c.all_values) {
        for (const Value& v : Values(key.get()))
            RegDeleteValue(key.get(), v.name.c_str());
        return Done();
    }
    if (RegDeleteValue(key.get(), Utf16(*c.value).c_str()) != ERROR_SUCCESS) return Fail(kNotFound);
    return Done();
}

RegOutcome Query(const RegCommand& c) {
    Key key;
    if (Open(c.root, c.path, &key) != ERROR_SUCCESS) return Fail(kNotFound);
    RegOutcome outcome;
    if (c.value) {
        std::u16string name = Utf16(*c.value);
        DWORD type = 0, size = 0;
        if (RegQueryValueEx(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return Fail(kNotFound);
        std::vector<BYTE> data(size);
        if (RegQueryValueEx(key.get(), name.c_str(), nullptr, &type, size ? data.data() : nullptr, &size) !=
            ERROR_SUCCESS)
            return Fail(kNotFound);
        data.resize(size);
        outcome.out = "\n" + c.key + "\n" + ValueLine(name, type, data) + "\n";
        return outcome;
    }
    outcome.out = "\n";
    QueryTree(key.get(), c.key, c.recurse, &outcome.out);
    outcome.out += "\n";
    return outcome;
}

}  // namespace

const char* RegUsage() {
    return "reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
           "reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "reg query KEY [/v NAME | /ve] [/s]\n";
}

RegCommand ParseRegCommand(const std::vector<std::string>& args) { return Parse(args); }

RegOutcome RunRegCommand(const RegCommand& command) {
    switch (command.operation) {
        case RegCommand::Operation::kAdd:
            return Add(command);
        case RegCommand::Operation::kDelete:
            return Delete(command);
        case RegCommand::Operation::kQuery:
            return Query(command);
    }
    return Fail("ERROR: Invalid syntax.\n");
}

}  // namespace handheld
