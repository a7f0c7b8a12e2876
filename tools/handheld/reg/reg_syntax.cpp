// reg.exe's command line: roots, type names, switches, numbers, and the bytes /d stands for.
#include "handheld/reg/reg_syntax.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "handheld/text.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"

namespace handheld {
namespace reg {
namespace {

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
        c.file = args[1];
        for (std::size_t i = 2; i < args.size(); ++i) {
            if (c.force || (!SameNoCase(args[i], "/f") && !SameNoCase(args[i], "-f")))
                throw RegSyntaxError("unexpected argument '" + args[i] + "'");
            c.force = true;
        }
        return c;
    }
    if (SameNoCase(op, "export")) {
        c.operation = RegCommand::Operation::kExport;
        if (args.size() < 2) throw RegSyntaxError("missing key name");
        set_key(args[1]);
        if (args.size() < 3) throw RegSyntaxError("missing file name");
        c.file = args[2];
        for (std::size_t i = 3; i < args.size(); ++i)
            if (SameNoCase(args[i], "/y") || SameNoCase(args[i], "-y"))
                c.force = true;
            else
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
        } else if (sw == "/f") {
            c.force = true;
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

// A number as reg.exe reads one: decimal, or hex after 0x.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseDigits(std::string_view(text).substr(2), 16, max, out);
    return ParseDigits(std::string_view(text), 10, max, out);
}

}  // namespace

std::string TypeText(DWORD type) {
    for (const auto& t : kTypes)
        if (t.type == type) return t.name;
    return "REG_" + std::to_string(type);
}

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

}  // namespace reg

const char* RegUsage() {
    return "reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
           "reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "reg query KEY [/v NAME | /ve] [/s]\n"
           "reg export KEY FILE [/y]\n"
           "reg import FILE [/f]\n";
}

RegCommand ParseRegCommand(const std::vector<std::string>& args) { return reg::Parse(args); }

}  // namespace handheld
