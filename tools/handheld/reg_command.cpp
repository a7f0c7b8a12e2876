#include "handheld/reg_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "settings/settings.h"

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
    if (args.empty()) throw RegSyntaxError("missing operation: add, delete, query, export or import");
    RegCommand c;
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
        SplitKey(args[1], &c);
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

// --- .reg files ---------------------------------------------------------------------------------

const char kRegHeader[] = "Windows Registry Editor Version 5.00";
const char kRegHeader4[] = "REGEDIT4";

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '\\' || ch == '"') out += '\\';
        out += ch;
    }
    return out + "\"";
}

// Text that reads back as the same bytes: one terminator at the end and no line breaks inside.
std::optional<std::u16string> PlainText(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2) return std::nullopt;
    std::u16string text = Utf16Text(data);
    if (text.back() != u'\0') return std::nullopt;
    text.pop_back();
    if (text.find_first_of(u"\0\r\n", 0, 3) != std::u16string::npos) return std::nullopt;
    return text;
}

// Hex data as regedit wraps it: lines of at most 80 characters, continued by a backslash and
// indented by two spaces.
std::string HexData(std::string line, const std::vector<BYTE>& data) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 15];
        if (i + 1 == data.size()) break;
        line += ',';
        if (line.size() > 76) {
            out += line + "\\\n";
            line = "  ";
        }
    }
    return out + line;
}

std::string RegEntry(const Value& v) {
    std::string name = v.name.empty() ? "@" : Quoted(Utf8(v.name));
    if (v.type == REG_SZ)
        if (auto text = PlainText(v.data)) return name + "=" + Quoted(Utf8(*text));
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08" PRIx32,
                      static_cast<std::uint32_t>(v.data[0] | v.data[1] << 8 | v.data[2] << 16 |
                                                 static_cast<std::uint32_t>(v.data[3]) << 24));
        return name + "=" + buf;
    }
    if (v.type == REG_BINARY) return HexData(name + "=hex:", v.data);
    char type[24];
    std::snprintf(type, sizeof type, "=hex(%" PRIx32 "):", static_cast<std::uint32_t>(v.type));
    return HexData(name + type, v.data);
}

void ExportTree(HKEY key, const std::string& shown, std::string* out) {
    *out += "[" + shown + "]\n";
    for (const Value& v : Values(key))
        *out += RegEntry(v) + "\n";
    *out += "\n";
    for (const auto& s : SubkeyNames(key)) {
        Key child;
        if (RegOpenKeyEx(key, s.c_str(), 0, KEY_ALL_ACCESS, child.out()) == ERROR_SUCCESS)
            ExportTree(child.get(), shown + "\\" + Utf8(s), out);
    }
}

// UTF-16LE with a byte order mark and CRLF line ends, as reg.exe writes them.
std::string RegFileBytes(const std::string& text) {
    std::u16string wide = u"\xFEFF";
    for (char16_t c : Utf16(text)) {
        if (c == u'\n') wide += u'\r';
        wide += c;
    }
    std::string bytes;
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

RegOutcome Export(const RegCommand& c) {
    Key key;
    if (Open(c.root, c.path, &key) != ERROR_SUCCESS) return Fail(kNotFound);
    std::string text = std::string(kRegHeader) + "\n\n";
    ExportTree(key.get(), c.key, &text);
    std::ofstream out(c.file, std::ios::binary | std::ios::trunc);
    std::string bytes = RegFileBytes(text);
    if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
        return Fail("ERROR: Cannot write " + c.file + ": " + std::strerror(errno) + "\n");
    return Done();
}

// A file's text as UTF-8, whichever of UTF-16 (by its byte order mark) or UTF-8 it is in.
std::string DecodeRegFile(const std::string& bytes) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF))) {
        bool little = at(0) == 0xFF;
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide += static_cast<char16_t>(little ? at(i) | at(i + 1) << 8 : at(i) << 8 | at(i + 1));
        return Utf8(wide);
    }
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return bytes.substr(3);
    return bytes;
}

// One change an imported file asks for.
struct RegChange {
    enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind;
    HKEY root;
    std::string path;
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class RegFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Trim(const std::string& text) {
    std::size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(" \t") + 1 - b);
}

// A quoted string starting at text[*i]; *i ends past the closing quote.
std::string Unquote(const std::string& text, std::size_t* i) {
    std::string out;
    for (std::size_t k = *i + 1; k < text.size(); ++k) {
        char ch = text[k];
        if (ch == '"') {
            *i = k + 1;
            return out;
        }
        if (ch == '\\') {
            if (k + 1 >= text.size() || (text[k + 1] != '\\' && text[k + 1] != '"'))
                throw RegFileError("a backslash in a string must be doubled");
            ch = text[++k];
        }
        out += ch;
    }
    throw RegFileError("a quote is not closed");
}

std::vector<BYTE> HexBytes(const std::string& text) {
    std::vector<BYTE> bytes;
    std::string rest = Trim(text);
    if (rest.empty()) return bytes;
    for (std::size_t i = 0; i <= rest.size();) {
        std::size_t comma = rest.find(',', i);
        std::string item = Trim(rest.substr(i, comma == std::string::npos ? std::string::npos : comma - i));
        std::uint64_t v = 0;
        if (item.empty() || item.size() > 2 || !std::isxdigit(static_cast<unsigned char>(item[0])) ||
            !std::isxdigit(static_cast<unsigned char>(item.back())) || !ParseNumber("0x" + item, 0xFF, &v))
            throw RegFileError("bad hex byte '" + item + "'");
        bytes.push_back(static_cast<BYTE>(v));
        if (comma == std::string::npos) break;
        i = comma + 1;
    }
    return bytes;
}

void ParseValueLine(const std::string& line, const RegChange& section, std::vector<RegChange>* changes) {
    RegChange change = section;
    std::size_t i = 0;
    if (line[0] == '@') {
        i = 1;
    } else {
        change.name = Utf16(Unquote(line, &i));
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i >= line.size() || line[i] != '=') throw RegFileError("expected = after the value's name");
    std::string data = Trim(line.substr(i + 1));
    if (data == "-") {
        change.kind = RegChange::Kind::kDeleteValue;
    } else if (!data.empty() && data[0] == '"') {
        std::size_t end = 0;
        std::string text = Unquote(data, &end);
        if (!Trim(data.substr(end)).empty()) throw RegFileError("text after the closing quote");
        std::u16string wide = Utf16(text);
        wide += u'\0';
        change.type = REG_SZ;
        change.data = Utf16Bytes(wide);
    } else if (SameNoCase(data.substr(0, 6), "dword:")) {
        std::string digits = data.substr(6);
        std::uint64_t v = 0;
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
            !ParseNumber("0x" + digits, 0xFFFFFFFFull, &v))
            throw RegFileError("dword: needs 1 to 8 hex digits");
        change.type = REG_DWORD;
        for (int k = 0; k < 4; ++k)
            change.data.push_back(static_cast<BYTE>(v >> (8 * k)));
    } else if (SameNoCase(data.substr(0, 4), "hex:")) {
        change.type = REG_BINARY;
        change.data = HexBytes(data.substr(4));
    } else if (SameNoCase(data.substr(0, 4), "hex(")) {
        std::size_t close = data.find("):");
        std::uint64_t type = 0;
        if (close == std::string::npos || close == 4 ||
            !ParseNumber("0x" + data.substr(4, close - 4), 0xFFFFFFFFull, &type))
            throw RegFileError("hex(TYPE): needs the type in hex");
        change.type = static_cast<DWORD>(type);
        change.data = HexBytes(data.substr(close + 2));
    } else {
        throw RegFileError("unknown data '" + data + "' (\"text\", dword:, hex: or hex(TYPE):)");
    }
    if (change.kind != RegChange::Kind::kDeleteValue) change.kind = RegChange::Kind::kSetValue;
    changes->push_back(std::move(change));
}

// Every change the file asks for, in order; throws RegFileError naming the line at fault.
std::vector<RegChange> ParseRegFile(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i <= text.size();) {
        std::size_t end = text.find('\n', i);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(i, end - i);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        i = end + 1;
    }
    std::vector<RegChange> changes;
    std::optional<RegChange> section;
    bool header = false;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::size_t first = n;
        std::string line = Trim(lines[n]);
        try {
            if (line.empty() || line[0] == ';') continue;
            if (!header) {
                if (line != kRegHeader && line != kRegHeader4)
                    throw RegFileError(std::string("not a .reg file: the first line must be \"") + kRegHeader + "\"");
                header = true;
                continue;
            }
            // Long hex data goes on over lines that end in a backslash.
            while (!line.empty() && line.back() == '\\' && line.find("=\"") == std::string::npos &&
                   n + 1 < lines.size()) {
                line.pop_back();
                line += Trim(lines[++n]);
            }
            if (line[0] == '[') {
                std::size_t close = line.rfind(']');
                if (close == std::string::npos || !Trim(line.substr(close + 1)).empty())
                    throw RegFileError("a key name must end with ]");
                bool remove = line.size() > 1 && line[1] == '-';
                RegCommand key;
                try {
                    SplitKey(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)), &key);
                } catch (const RegSyntaxError& e) {
                    throw RegFileError(e.what());
                }
                RegChange change{remove ? RegChange::Kind::kDeleteKey : RegChange::Kind::kCreateKey,
                                 key.root,
                                 key.path,
                                 {},
                                 REG_NONE,
                                 {}};
                if (remove && key.path.empty()) throw RegFileError("a root key cannot be deleted");
                changes.push_back(change);
                if (remove)
                    section.reset();
                else
                    section = change;
                continue;
            }
            if (line[0] != '@' && line[0] != '"') throw RegFileError("expected [KEY], \"name\"= or @=");
            if (!section) throw RegFileError("a value before any [KEY]");
            ParseValueLine(line, *section, &changes);
        } catch (const RegFileError& e) {
            throw RegFileError("line " + std::to_string(first + 1) + ": " + e.what());
        }
    }
    if (!header) throw RegFileError(std::string("not a .reg file: the first line must be \"") + kRegHeader + "\"");
    return changes;
}

LONG Apply(const RegChange& change) {
    switch (change.kind) {
        case RegChange::Kind::kCreateKey: {
            Key key;
            DWORD disposition = 0;
            return RegCreateKeyEx(change.root, Utf16(change.path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.out(), &disposition);
        }
        case RegChange::Kind::kDeleteKey: {
            std::size_t cut = change.path.rfind('\\');
            Key parent;
            if (Open(change.root, cut == std::string::npos ? "" : change.path.substr(0, cut), &parent) != ERROR_SUCCESS)
                return ERROR_SUCCESS;
            LONG r =
                DeleteTree(parent.get(), Utf16(cut == std::string::npos ? change.path : change.path.substr(cut + 1)));
            return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
        }
        case RegChange::Kind::kSetValue:
        case RegChange::Kind::kDeleteValue: {
            Key key;
            if (LONG r = Open(change.root, change.path, &key)) return r;
            if (change.kind == RegChange::Kind::kDeleteValue) {
                LONG r = RegDeleteValue(key.get(), change.name.c_str());
                return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
            }
            return RegSetValueEx(key.get(), change.name.c_str(), 0, change.type,
                                 change.data.empty() ? nullptr : change.data.data(),
                                 static_cast<DWORD>(change.data.size()));
        }
    }
    return ERROR_INVALID_PARAMETER;
}

RegOutcome Import(const RegCommand& c) {
    std::ifstream in(c.file, std::ios::binary);
    if (!in) return Fail("ERROR: Cannot read " + c.file + ": " + std::strerror(errno) + "\n");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::vector<RegChange> changes;
    try {
        changes = ParseRegFile(DecodeRegFile(bytes.str()));
    } catch (const RegFileError& e) {
        return Fail("ERROR: " + c.file + ": " + e.what() + "\n");
    }
    for (const RegChange& change : changes)
        if (Apply(change) != ERROR_SUCCESS) return Fail("ERROR: Error accessing the registry.\n");
    return Done();
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

OnDevice::OnDevice() {
    // A folder we may not enter would otherwise look like a device yet to be made.
    std::string folder = host::DefaultDeviceFolder();
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
        throw host::DeviceError("no access to the device folder " + folder + " (" + std::strerror(errno) +
                                "): it is another user's");
    host::BootOptions options;
    options.virtual_clock = false;  // beside a system running in real time
    host::Handheld::Boot(options);
}

OnDevice::~OnDevice() { host::Handheld::PowerOff(); }

std::optional<DWORD> OnDevice::PublishedWindow() const {
    Key key;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], 0, 0, key.out()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueEx(key.get(), AppKeyStrings[GPSHDL_VALUE], nullptr, &type, reinterpret_cast<BYTE*>(&value),
                        &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

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
