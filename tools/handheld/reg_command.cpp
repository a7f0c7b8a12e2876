#include "handheld/reg_command.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "settings/settings.h"

namespace handheld {
namespace {

constexpr DWORD kRegQword = 11;
const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";
// Far more than any registry a handheld holds, and little enough to read whole.
constexpr std::size_t kMaxRegFile = 64u << 20;

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

// The system's message for an error, as reg.exe prints it after "ERROR: ".
std::string ErrorText(LONG error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified.";
        case ERROR_ACCESS_DENIED:
            return "Access is denied.";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory resources are available to process this command.";
        case ERROR_GEN_FAILURE:
            return "A device attached to the system is not functioning.";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect.";
        case ERROR_BAD_PATHNAME:
            return "The specified path is invalid.";
        case ERROR_MORE_DATA:
            return "More data is available.";
        case ERROR_BADDB:
            return "The configuration registry database is corrupt.";
        case ERROR_BADKEY:
            return "The configuration registry key is invalid.";
        case ERROR_CANTREAD:
            return "The configuration registry key could not be read.";
        case ERROR_CANTWRITE:
            return "The configuration registry key could not be written.";
        case ERROR_KEY_DELETED:
            return "Illegal operation attempted on a registry key that has been marked for deletion.";
        default:
            return "Error " + std::to_string(error) + ".";
    }
}

template <class Char>
bool SameNoCase(std::basic_string_view<Char> a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] > 0x7F ||
            std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool SameNoCase(const std::string& a, const char* b) { return SameNoCase(std::string_view(a), b); }

// A name for a message on one line: its start when it is long, control characters as \xNN.
std::string Clipped(std::u16string_view name, std::size_t most = 24) {
    std::u16string shown;
    for (char16_t c : name.substr(0, most)) {
        if (c >= 0x20) {
            shown += c;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
        for (const char* h = hex; *h; ++h)
            shown += static_cast<char16_t>(*h);
    }
    return Utf8(shown) + (name.size() > most ? "..." : "");
}

// A key as ROOT\PATH: the root, the names below it with the separators tidied, and the whole as
// it is printed.
struct KeyName {
    HKEY root = nullptr;
    std::u16string path;
    std::u16string shown;
};

// Refuses roots it does not know, and names and depths the registry would not create.
KeyName SplitKey(std::u16string_view text) {
    std::size_t slash = text.find(u'\\');
    std::u16string_view root = text.substr(0, slash);
    for (const auto& r : kRoots) {
        if (!SameNoCase(root, r.short_name) && !SameNoCase(root, r.full_name)) continue;
        KeyName key;
        key.root = r.key;
        std::size_t depth = 0;
        std::u16string_view rest = slash == std::u16string_view::npos ? u"" : text.substr(slash + 1);
        for (std::size_t i = 0; i < rest.size();) {
            std::size_t end = std::min(rest.find(u'\\', i), rest.size());
            std::u16string_view name = rest.substr(i, end - i);
            i = end + 1;
            if (name.empty()) continue;
            if (name.size() > host::kMaxKeyName)
                throw RegSyntaxError("Invalid key name: \"" + Clipped(name) + "\" is longer than " +
                                     std::to_string(host::kMaxKeyName) + " characters");
            for (char16_t c : name)
                if (c < 0x20)
                    throw RegSyntaxError("Invalid key name: \"" + Clipped(name) + "\" holds the control character " +
                                         std::to_string(static_cast<int>(c)));
            if (++depth > host::kMaxKeyDepth)
                throw RegSyntaxError("Invalid key name: deeper than " + std::to_string(host::kMaxKeyDepth) + " levels");
            if (!key.path.empty()) key.path += u'\\';
            key.path += name;
        }
        for (const char* c = r.full_name; *c; ++c)
            key.shown += static_cast<char16_t>(*c);
        if (!key.path.empty()) key.shown += u"\\" + key.path;
        return key;
    }
    throw RegSyntaxError("Invalid key name: " + Clipped(text, 200) + " (the root must be HKLM, HKCU, HKCR or HKU)");
}

void CheckValueName(std::u16string_view name) {
    if (name.size() > host::kMaxValueName)
        throw RegSyntaxError("Invalid value name: \"" + Clipped(name) + "\" is longer than " +
                             std::to_string(host::kMaxValueName) + " characters");
}

std::u16string Exact(const std::string& utf8, const char* what) {
    std::optional<std::u16string> text = Utf16Exact(utf8);
    if (!text) throw RegSyntaxError(std::string("Invalid ") + what + ": not UTF-8");
    return *text;
}

// Each switch once; the ones an operation does not take are refused.
RegCommand Parse(const std::vector<std::string>& args) {
    if (args.empty()) throw RegSyntaxError("missing operation: add, delete, query, export or import");
    RegCommand c;
    auto set_key = [&c](const std::string& text) {
        KeyName key = SplitKey(Exact(text, "key name"));
        c.root = key.root;
        c.path = Utf8(key.path);
        c.key = Utf8(key.shown);
    };
    const std::string& op = args[0];
    if (SameNoCase(op, "import")) {
        c.operation = RegCommand::Operation::kImport;
        if (args.size() < 2) throw RegSyntaxError("missing file name");
        if (args.size() > 2) throw RegSyntaxError("unexpected argument '" + args[2] + "'");
        c.file = args[1];
        return c;
    }
    if (SameNoCase(op, "export")) {
        c.operation = RegCommand::Operation::kExport;
        if (args.size() < 2) throw RegSyntaxError("missing key name");
        set_key(args[1]);
        if (args.size() < 3) throw RegSyntaxError("missing file name");
        c.file = args[2];
        for (std::size_t i = 3; i < args.size(); ++i)
            if (!SameNoCase(args[i], "/y") && !SameNoCase(args[i], "-y"))
                throw RegSyntaxError("reg export does not take " + args[i]);
        return c;
    }
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
        throw RegSyntaxError("unknown operation '" + op + "': add, delete, query, export or import");
    }
    if (args.size() < 2) throw RegSyntaxError("missing key name");
    set_key(args[1]);

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
            CheckValueName(Exact(*c.value, "value name"));
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
            Exact(c.data, "data");
            have_data = true;
        } else if (sw == "/s") {
            if (c.operation == RegCommand::Operation::kQuery) {
                c.recurse = true;
            } else {
                c.separator = operand();
                if (c.separator.empty()) throw RegSyntaxError("/s needs a separator");
                Exact(c.separator, "separator");
                have_separator = true;
            }
        }
    }
    if (c.operation == RegCommand::Operation::kAdd && !c.value && (have_type || have_data))
        throw RegSyntaxError("/t and /d need /v or /ve");
    if (have_separator && c.type != REG_MULTI_SZ) throw RegSyntaxError("/s is for REG_MULTI_SZ only");
    return c;
}

int HexDigit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Digits in `base` up to `max`, nothing else: no sign, no blanks.
template <class Char>
bool ParseDigits(std::basic_string_view<Char> text, int base, std::uint64_t max, std::uint64_t* out) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (Char ch : text) {
        int d = HexDigit(static_cast<char32_t>(ch));
        if (d < 0 || d >= base || v > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base))
            return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    *out = v;
    return true;
}

// A number as reg.exe reads one: decimal, or hex after 0x.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseDigits(std::string_view(text).substr(2), 16, max, out);
    return ParseDigits(std::string_view(text), 10, max, out);
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
                *problem = "Invalid " + TypeText(c.type) + " data: " + c.data + " (a number from 0 to " +
                           (qword ? "18446744073709551615" : "4294967295") + ", in decimal or in hex after 0x)";
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
                if (!ParseDigits(std::string_view(c.data).substr(i, 2), 16, 0xFF, &v)) {
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
            return host::TextData(text);
        }
        default:
            return host::StringData(Utf16(c.data));
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
        case REG_EXPAND_SZ:
            return Utf8(host::StringOf(data));
        case REG_MULTI_SZ: {
            std::u16string text = host::TextOf(data);
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

// A key that could not be read to its end; what() names it.
class ReadFailure : public std::runtime_error {
public:
    ReadFailure(LONG error, const std::u16string& key)
        : std::runtime_error("Cannot read " + Utf8(key) + ": " + ErrorText(error)) {}
};

// The names of the subkeys of `key` (shown as `shown`). An error ends the enumeration with a
// ReadFailure, never as if the key had no more subkeys.
std::vector<std::u16string> SubkeyNames(HKEY key, const std::u16string& shown) {
    std::vector<std::u16string> names;
    WCHAR name[host::kMaxKeyName + 1];
    for (DWORD i = 0;; ++i) {
        DWORD size = host::kMaxKeyName + 1;
        LONG r = RegEnumKeyEx(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) return names;
        if (r != ERROR_SUCCESS) throw ReadFailure(r, shown);
        names.emplace_back(name, size);
    }
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Every value of `key`, in order; as SubkeyNames, an error throws ReadFailure.
std::vector<Value> Values(HKEY key, const std::u16string& shown) {
    std::vector<Value> values;
    std::u16string name(host::kMaxValueName + 1, u'\0');
    for (DWORD i = 0;; ++i) {
        Value v;
        LONG r = ERROR_MORE_DATA;
        // Another program may make the data longer between the two calls: then ask again.
        for (int attempt = 0; r == ERROR_MORE_DATA && attempt < 8; ++attempt) {
            auto name_size = static_cast<DWORD>(name.size());
            DWORD type = 0, size = 0;
            r = RegEnumValue(key, i, name.data(), &name_size, nullptr, &type, nullptr, &size);
            if (r != ERROR_SUCCESS) break;
            v.data.resize(size);
            name_size = static_cast<DWORD>(name.size());
            r = RegEnumValue(key, i, name.data(), &name_size, nullptr, &type, size ? v.data.data() : nullptr, &size);
            if (r == ERROR_SUCCESS) {
                v.name.assign(name.data(), name_size);
                v.type = type;
                v.data.resize(size);
            }
        }
        if (r == ERROR_NO_MORE_ITEMS) return values;
        if (r != ERROR_SUCCESS) throw ReadFailure(r, shown);
        values.push_back(std::move(v));
    }
}

std::string ValueLine(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    return "    " + (name.empty() ? std::string("(Default)") : Utf8(name)) + "    " + TypeText(type) + "    " +
           Shown(type, data) + "\n";
}

// A subkey found by the enumeration may be deleted by another program before it is opened.
bool OpenSubkey(HKEY key, const std::u16string& name, const std::u16string& shown, Key* child) {
    LONG r = RegOpenKeyEx(key, name.c_str(), 0, KEY_ALL_ACCESS, child->out());
    if (r == ERROR_FILE_NOT_FOUND) return false;
    if (r != ERROR_SUCCESS) throw ReadFailure(r, shown + u"\\" + name);
    return true;
}

void QueryTree(HKEY key, const std::u16string& shown, bool recurse, std::string* out) {
    *out += Utf8(shown) + "\n";
    for (const Value& v : Values(key, shown))
        *out += ValueLine(v.name, v.type, v.data);
    std::vector<std::u16string> subkeys = SubkeyNames(key, shown);
    if (!recurse) {
        if (!subkeys.empty()) *out += "\n";
        for (const auto& s : subkeys)
            *out += Utf8(shown + u"\\" + s) + "\n";
        return;
    }
    for (const auto& s : subkeys) {
        Key child;
        if (!OpenSubkey(key, s, shown, &child)) continue;
        *out += "\n";
        QueryTree(child.get(), shown + u"\\" + s, true, out);
    }
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
    if (LONG r = RegCreateKeyEx(c.root, Utf16(c.path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(),
                                &disposition))
        return Fail("ERROR: " + ErrorText(r) + "\n");
    if (c.value)
        if (LONG r = RegSetValueEx(key.get(), Utf16(*c.value).c_str(), 0, c.type,
                                   bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size())))
            return Fail("ERROR: " + ErrorText(r) + "\n");
    return Done();
}

// One change of the registry of the device switched on, made in one transaction.
LONG Change(const host::RegChange& change) {
    std::size_t failed = 0;
    return host::Handheld::Current().registry().Apply({change}, &failed);
}

RegOutcome Delete(const RegCommand& c) {
    if (c.value) {
        Key key;
        if (Open(c.root, c.path, &key) != ERROR_SUCCESS) return Fail(kNotFound);
        if (RegDeleteValue(key.get(), Utf16(*c.value).c_str()) != ERROR_SUCCESS) return Fail(kNotFound);
        return Done();
    }
    if (!c.all_values && c.path.empty()) return Fail("ERROR: A root key cannot be deleted.\n");
    // A tree, or every value of a key, goes at once or not at all.
    host::RegChange change;
    change.kind = c.all_values ? host::RegChange::Kind::kDeleteValues : host::RegChange::Kind::kDeleteTree;
    change.base = host::RegistryStore::Root(c.root);
    change.path = Utf16(c.path);
    LONG r = Change(change);
    if (r == ERROR_FILE_NOT_FOUND) return Fail(kNotFound);
    if (r != ERROR_SUCCESS) return Fail("ERROR: " + ErrorText(r) + "\n");
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
    try {
        QueryTree(key.get(), Utf16(c.key), c.recurse, &outcome.out);
    } catch (const ReadFailure& e) {
        outcome.exit_code = 1;
        outcome.err = std::string("ERROR: ") + e.what() + "\n";
        return outcome;
    }
    outcome.out += "\n";
    return outcome;
}

// --- .reg files ---------------------------------------------------------------------------------
//
// Files are read and written as UTF-16, so that every name and string goes out and comes back
// exactly as the registry holds it, unpaired surrogates included.

constexpr std::u16string_view kRegHeader = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kRegHeader4 = u"REGEDIT4";

void AppendAscii(std::u16string* out, std::string_view text) {
    for (char c : text)
        out->push_back(static_cast<char16_t>(c));
}

// Between quotes, \ and " are escaped, and so are the line breaks a value name may hold, which
// would otherwise end the entry's line.
void AppendQuoted(std::u16string* out, std::u16string_view text) {
    out->push_back(u'"');
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out->push_back(u'\\');
            out->push_back(c);
        } else if (c == u'\n') {
            out->append(u"\\n");
        } else if (c == u'\r') {
            out->append(u"\\r");
        } else {
            out->push_back(c);
        }
    }
    out->push_back(u'"');
}

// Text that reads back as the same bytes: one terminator at the end and no line breaks inside.
std::optional<std::u16string> PlainText(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2) return std::nullopt;
    std::u16string text = host::TextOf(data);
    if (text.back() != u'\0') return std::nullopt;
    text.pop_back();
    if (text.find_first_of(u"\0\r\n", 0, 3) != std::u16string::npos) return std::nullopt;
    return text;
}

// Hex data as regedit wraps it: lines of at most 80 characters, continued by a backslash and
// indented by two spaces. `line` is where the entry's line starts in `out`.
void AppendHexData(std::u16string* out, std::size_t line, const std::vector<BYTE>& data) {
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out->push_back(static_cast<char16_t>(digits[data[i] >> 4]));
        out->push_back(static_cast<char16_t>(digits[data[i] & 15]));
        if (i + 1 == data.size()) break;
        out->push_back(u',');
        if (out->size() - line > 76) {
            out->append(u"\\\n  ");
            line = out->size() - 2;
        }
    }
}

void AppendEntry(std::u16string* out, const Value& v) {
    std::size_t line = out->size();
    if (v.name.empty())
        out->push_back(u'@');
    else
        AppendQuoted(out, v.name);
    out->push_back(u'=');
    if (v.type == REG_SZ) {
        if (auto text = PlainText(v.data)) {
            AppendQuoted(out, *text);
            return;
        }
    }
    char buf[32];
    if (v.type == REG_DWORD && v.data.size() == 4) {
        std::snprintf(buf, sizeof buf, "dword:%08" PRIx32, static_cast<std::uint32_t>(*host::DwordOf(v.data)));
        AppendAscii(out, buf);
        return;
    }
    if (v.type == REG_BINARY)
        std::snprintf(buf, sizeof buf, "hex:");
    else
        std::snprintf(buf, sizeof buf, "hex(%" PRIx32 "):", static_cast<std::uint32_t>(v.type));
    AppendAscii(out, buf);
    AppendHexData(out, line, v.data);
}

void ExportTree(HKEY key, const std::u16string& shown, std::u16string* out) {
    std::vector<Value> values = Values(key, shown);
    *out += u"[" + shown + u"]\n";
    for (const Value& v : values) {
        AppendEntry(out, v);
        out->push_back(u'\n');
    }
    out->push_back(u'\n');
    for (const auto& s : SubkeyNames(key, shown)) {
        Key child;
        if (OpenSubkey(key, s, shown, &child)) ExportTree(child.get(), shown + u"\\" + s, out);
    }
}

// UTF-16LE with a byte order mark and CRLF line ends, as reg.exe writes them.
std::string RegFileBytes(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    bytes.reserve(text.size() * 2 + text.size() / 8);
    auto put = [&bytes](char16_t c) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    };
    for (char16_t c : text) {
        if (c == u'\n') put(u'\r');
        put(c);
    }
    return bytes;
}

RegOutcome Export(const RegCommand& c) {
    Key key;
    if (Open(c.root, c.path, &key) != ERROR_SUCCESS) return Fail(kNotFound);
    std::u16string text(kRegHeader);
    text += u"\n\n";
    try {
        ExportTree(key.get(), Utf16(c.key), &text);
    } catch (const ReadFailure& e) {
        return Fail(std::string("ERROR: ") + e.what() + "\n");  // no file rather than part of one
    }
    std::ofstream out(c.file, std::ios::binary | std::ios::trunc);
    std::string bytes = RegFileBytes(text);
    if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
        return Fail("ERROR: Cannot write " + c.file + ": " + std::strerror(errno) + "\n");
    return Done();
}

class RegFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::size_t LineOf(std::string_view bytes, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at && i < bytes.size(); ++i)
        line += bytes[i] == '\n';
    return line;
}

// A file's text, whichever of UTF-16 (by its byte order mark) or UTF-8 it is in; what is neither
// is refused rather than guessed at.
std::u16string DecodeRegFile(const std::string& bytes) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF))) {
        if (bytes.size() % 2)
            throw RegFileError("line " + std::to_string(LineOf(bytes, bytes.size())) +
                               ": the file is UTF-16 but ends in half a character");
        bool little = at(0) == 0xFF;
        std::u16string wide;
        wide.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide += static_cast<char16_t>(little ? at(i) | at(i + 1) << 8 : at(i) << 8 | at(i + 1));
        return wide;
    }
    std::size_t start = bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF ? 3 : 0;
    std::string utf8 = bytes.substr(start);
    if (std::optional<std::u16string> text = Utf16Exact(utf8)) return *text;
    std::size_t line_start = 0;
    for (;;) {
        std::size_t end = std::min(utf8.find('\n', line_start), utf8.size());
        if (!Utf16Exact(utf8.substr(line_start, end - line_start)))
            throw RegFileError("line " + std::to_string(LineOf(utf8, line_start)) +
                               ": not UTF-8 (and no byte order mark of UTF-16)");
        line_start = end + 1;
    }
}

std::u16string_view Trim(std::u16string_view text) {
    std::size_t b = text.find_first_not_of(u" \t");
    if (b == std::u16string_view::npos) return {};
    return text.substr(b, text.find_last_not_of(u" \t") + 1 - b);
}

// A quoted string starting at text[*i]; *i ends past the closing quote.
std::u16string Unquote(std::u16string_view text, std::size_t* i) {
    std::u16string out;
    for (std::size_t k = *i + 1; k < text.size(); ++k) {
        char16_t ch = text[k];
        if (ch == u'"') {
            *i = k + 1;
            return out;
        }
        if (ch == u'\\') {
            char16_t next = k + 1 < text.size() ? text[k + 1] : u'\0';
            if (next == u'n') {
                ch = u'\n';
            } else if (next == u'r') {
                ch = u'\r';
            } else if (next == u'\\' || next == u'"') {
                ch = next;
            } else {
                throw RegFileError("a backslash in a string must be doubled");
            }
            ++k;
        }
        out += ch;
    }
    throw RegFileError("a quote is not closed");
}

// Whether a value line's data is hex, which may go on over the next lines.
bool HexEntry(std::u16string_view line) {
    std::size_t i = 1;
    if (line[0] == u'"') {
        while (i < line.size() && line[i] != u'"')
            i += line[i] == u'\\' ? 2 : 1;
        ++i;
    }
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t' || line[i] == u'='))
        ++i;
    return i < line.size() && SameNoCase(line.substr(i, 3), "hex");
}

std::vector<BYTE> HexBytes(std::u16string_view text) {
    std::vector<BYTE> bytes;
    text = Trim(text);
    if (text.empty()) return bytes;
    bytes.reserve(text.size() / 3 + 1);
    for (std::size_t i = 0;;) {
        std::size_t comma = std::min(text.find(u',', i), text.size());
        std::u16string_view item = Trim(text.substr(i, comma - i));
        std::uint64_t v = 0;
        if (item.size() > 2 || !ParseDigits(item, 16, 0xFF, &v))
            throw RegFileError("bad hex byte '" + Utf8(std::u16string(item)) + "'");
        bytes.push_back(static_cast<BYTE>(v));
        if (comma == text.size()) return bytes;
        i = comma + 1;
    }
}

host::RegChange ValueChange(std::u16string_view line, const host::RegChange& section) {
    host::RegChange change;
    change.base = section.base;
    change.path = section.path;
    std::size_t i = 0;
    if (line[0] == u'@') {
        i = 1;
    } else {
        change.name = Unquote(line, &i);
        if (change.name.find(u'\0') != std::u16string::npos) throw RegFileError("a value name cannot hold NUL");
        try {
            CheckValueName(change.name);
        } catch (const RegSyntaxError& e) {
            throw RegFileError(e.what());
        }
    }
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
        ++i;
    if (i >= line.size() || line[i] != u'=') throw RegFileError("expected = after the value's name");
    std::u16string_view data = Trim(line.substr(i + 1));
    change.kind = host::RegChange::Kind::kSetValue;
    if (data == u"-") {
        change.kind = host::RegChange::Kind::kDeleteValue;
        change.if_present = true;
    } else if (!data.empty() && data[0] == u'"') {
        std::size_t end = 0;
        std::u16string text = Unquote(data, &end);
        if (!Trim(data.substr(end)).empty()) throw RegFileError("text after the closing quote");
        change.type = REG_SZ;
        change.data = host::StringData(text);
    } else if (SameNoCase(data.substr(0, 6), "dword:")) {
        std::uint64_t v = 0;
        if (data.size() > 6 + 8 || !ParseDigits(data.substr(6), 16, 0xFFFFFFFFull, &v))
            throw RegFileError("dword: needs 1 to 8 hex digits");
        change.type = REG_DWORD;
        change.data = host::DwordData(static_cast<DWORD>(v));
    } else if (SameNoCase(data.substr(0, 4), "hex:")) {
        change.type = REG_BINARY;
        change.data = HexBytes(data.substr(4));
    } else if (SameNoCase(data.substr(0, 4), "hex(")) {
        std::size_t close = data.find(u"):");
        std::uint64_t type = 0;
        if (close == std::u16string_view::npos || !ParseDigits(data.substr(4, close - 4), 16, 0xFFFFFFFFull, &type))
            throw RegFileError("hex(TYPE): needs the type in hex");
        change.type = static_cast<DWORD>(type);
        change.data = HexBytes(data.substr(close + 2));
    } else {
        throw RegFileError("unknown data '" + Utf8(std::u16string(data)) + "' (\"text\", dword:, hex: or hex(TYPE):)");
    }
    return change;
}

// Every change the file asks for, in order, and the line each comes from; throws RegFileError
// naming the line at fault.
struct RegFile {
    std::vector<host::RegChange> changes;
    std::vector<std::size_t> lines;
};

RegFile ParseRegFile(std::u16string_view text) {
    RegFile file;
    std::size_t at = 0, number = 0;
    std::u16string_view raw;
    auto next_line = [&]() {
        if (at > text.size()) return false;
        std::size_t end = std::min(text.find(u'\n', at), text.size());
        raw = text.substr(at, end - at);
        if (!raw.empty() && raw.back() == u'\r') raw.remove_suffix(1);
        at = end + 1;
        ++number;
        return true;
    };
    std::optional<host::RegChange> section;
    bool header = false;
    std::u16string joined;
    while (next_line()) {
        std::size_t first = number;
        std::u16string_view line = Trim(raw);
        try {
            if (line.empty() || line[0] == u';') continue;
            if (!header) {
                if (line != kRegHeader && line != kRegHeader4)
                    throw RegFileError("not a .reg file: the first line must be \"" + Utf8(std::u16string(kRegHeader)) +
                                       "\"");
                header = true;
                continue;
            }
            if (line[0] == u'[') {
                std::size_t close = line.rfind(u']');
                if (close == std::u16string_view::npos || !Trim(line.substr(close + 1)).empty())
                    throw RegFileError("a key name must end with ]");
                bool remove = line.size() > 1 && line[1] == u'-';
                KeyName key;
                try {
                    key = SplitKey(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)));
                } catch (const RegSyntaxError& e) {
                    throw RegFileError(e.what());
                }
                if (remove && key.path.empty()) throw RegFileError("a root key cannot be deleted");
                host::RegChange change;
                change.kind = remove ? host::RegChange::Kind::kDeleteTree : host::RegChange::Kind::kCreateKey;
                change.base = host::RegistryStore::Root(key.root);
                change.path = std::move(key.path);
                change.if_present = remove;
                if (remove)
                    section.reset();
                else
                    section = change;
                file.changes.push_back(std::move(change));
                file.lines.push_back(first);
                continue;
            }
            if (line[0] != u'@' && line[0] != u'"') throw RegFileError("expected [KEY], \"name\"= or @=");
            if (!section) throw RegFileError("a value before any [KEY]");
            // Long hex data goes on over lines that end in a backslash.
            if (line.back() == u'\\' && HexEntry(line)) {
                joined.assign(line);
                while (!joined.empty() && joined.back() == u'\\' && next_line()) {
                    joined.pop_back();
                    joined += Trim(raw);
                }
                line = joined;
            }
            file.changes.push_back(ValueChange(line, *section));
            file.lines.push_back(first);
        } catch (const RegFileError& e) {
            throw RegFileError("line " + std::to_string(first) + ": " + e.what());
        }
    }
    if (!header)
        throw RegFileError("not a .reg file: the first line must be \"" + Utf8(std::u16string(kRegHeader)) + "\"");
    return file;
}

RegOutcome Import(const RegCommand& c) {
    std::optional<std::string> bytes = ReadBounded(c.file, kMaxRegFile);
    if (!bytes) {
        if (errno == EFBIG)
            return Fail("ERROR: " + c.file + " holds more than " + std::to_string(kMaxRegFile >> 20) +
                        " MiB, more than a .reg file of a handheld can\n");
        return Fail("ERROR: Cannot read " + c.file + ": " + std::strerror(errno) + "\n");
    }
    RegFile file;
    try {
        file = ParseRegFile(DecodeRegFile(*bytes));
    } catch (const RegFileError& e) {
        return Fail("ERROR: " + c.file + ": " + e.what() + "\n");
    }
    bytes.reset();
    // The whole file is one change: a line that fails leaves the registry as it was.
    std::size_t failed = 0;
    LONG r = host::Handheld::Current().registry().Apply(file.changes, &failed);
    if (r == ERROR_SUCCESS) return Done();
    std::string where = failed < file.lines.size() ? "line " + std::to_string(file.lines[failed]) + ": " : "";
    return Fail("ERROR: " + c.file + ": " + where + ErrorText(r) + " Nothing was imported.\n");
}

}  // namespace

const char* RegUsage() {
    return "reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
           "reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "reg query KEY [/v NAME | /ve] [/s]\n"
           "reg export KEY FILE [/y]\n"
           "reg import FILE\n";
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
        case RegCommand::Operation::kExport:
            return Export(command);
        case RegCommand::Operation::kImport:
            return Import(command);
    }
    return Fail("ERROR: Invalid syntax.\n");
}

}  // namespace handheld
