// The reg commands (add, delete, query, export, import), each change in one transaction.
#include "handheld/reg/reg_command.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <optional>

#include "handheld/reg/reg_display.h"
#include "handheld/reg/reg_file.h"
#include "handheld/reg/reg_syntax.h"
#include "handheld/reg/reg_tree.h"
#include "handheld/reg/replacing_file.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"

namespace handheld {
namespace {

using namespace reg;

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

// Far more than any registry a handheld holds: a file that goes on past it (as /dev/zero does) is
// refused.
constexpr std::size_t kMaxRegFile = 64u << 20;

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

// "Unable to find" is for what is absent; a busy store, a full disk or a damaged file is said so.
std::string Missing(LONG r) {
    if (r == ERROR_FILE_NOT_FOUND) return kNotFound;
    if (r == ERROR_BUSY) {
        std::string holder = host::Handheld::Current().registry().WriteLockHolder();
        return "ERROR: The registry is in use" + (holder.empty() ? std::string() : " by " + holder) +
               " and stayed so for 2 seconds. Nothing was changed; try again.\n";
    }
    return "ERROR: " + ErrorText(r) + "\n";
}

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
        return Fail(Missing(r));
    if (c.value)
        if (LONG r = RegSetValueEx(key.get(), Utf16(*c.value).c_str(), 0, c.type,
                                   bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size())))
            return Fail(Missing(r));
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
        if (LONG r = Open(c.root, c.path, &key)) return Fail(Missing(r));
        if (LONG r = RegDeleteValue(key.get(), Utf16(*c.value).c_str())) return Fail(Missing(r));
        return Done();
    }
    if (!c.all_values && c.path.empty()) return Fail("ERROR: A root key cannot be deleted.\n");
    // A tree, or every value of a key, goes at once or not at all.
    host::RegChange change;
    change.kind = c.all_values ? host::RegChange::Kind::kDeleteValues : host::RegChange::Kind::kDeleteTree;
    change.base = host::RegistryStore::Root(c.root);
    change.path = Utf16(c.path);
    if (LONG r = Change(change)) return Fail(Missing(r));
    return Done();
}

RegOutcome Query(const RegCommand& c) {
    Key key;
    if (LONG r = Open(c.root, c.path, &key)) return Fail(Missing(r));
    RegOutcome outcome;
    if (c.value) {
        std::u16string name = Utf16(*c.value);
        DWORD type = 0, size = 0;
        if (LONG r = RegQueryValueEx(key.get(), name.c_str(), nullptr, &type, nullptr, &size)) return Fail(Missing(r));
        std::vector<BYTE> data(size);
        if (LONG r = RegQueryValueEx(key.get(), name.c_str(), nullptr, &type, size ? data.data() : nullptr, &size))
            return Fail(Missing(r));
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

// Written as it is read, a key at a time, and put in place of the old file only when whole.
RegOutcome Export(const RegCommand& c) {
    Key key;
    if (LONG r = Open(c.root, c.path, &key)) return Fail(Missing(r));
    ReplacingFile file(c.file);
    std::string bytes = RegFileBytes(std::u16string(kRegHeader) + u"\n\n");
    bool written = true;
    try {
        ExportTree(key.get(), Utf16(c.key), [&](std::u16string& text) {
            AppendRegFileBytes(&bytes, text);
            if (bytes.size() < (64u << 10)) return;
            written = written && file.Write(bytes);
            bytes.clear();
        });
    } catch (const ReadFailure& e) {
        return Fail(std::string("ERROR: ") + e.what() + "\n");  // the old file rather than part of a new one
    }
    if (!written || !file.Write(bytes) || !file.Commit())
        return Fail("ERROR: Cannot write " + c.file + ": " + file.error() + "\n");
    return Done();
}

RegOutcome Import(const RegCommand& c) {
    int fd = open(c.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail("ERROR: Cannot read " + c.file + ": " + std::strerror(errno) + "\n");
    struct CannotRead {
        int error;
    };
    RegFileLines lines(
        [fd](char* buffer, std::size_t size) {
            ssize_t n;
            while ((n = read(fd, buffer, size)) < 0 && errno == EINTR) {
            }
            if (n < 0) throw CannotRead{errno};
            return static_cast<std::size_t>(n);
        },
        kMaxRegFile);
    // The whole file is one change, applied as it is read: a line that is bad or fails leaves the
    // registry as it was.
    host::RegistryStore::ChangeSet set(host::Handheld::Current().registry());
    LONG r = set.status();
    std::size_t failed_line = 0;
    std::optional<std::string> refused;
    try {
        if (r == ERROR_SUCCESS)
            ParseRegFile(lines, [&](host::RegChange&& change, std::size_t line) {
                r = set.Apply(change);
                failed_line = line;
                return r == ERROR_SUCCESS;
            });
    } catch (const CannotRead& e) {
        refused = "Cannot read " + c.file + ": " + std::strerror(e.error);
    } catch (const RegFileTooLarge&) {
        refused = c.file + " holds more than " + std::to_string(kMaxRegFile >> 20) +
                  " MiB, more than a .reg file of a handheld can";
    } catch (const RegFileError& e) {
        refused = c.file + ": " + e.what();
    }
    close(fd);
    if (refused) return Fail("ERROR: " + *refused + "\n");
    if (r == ERROR_SUCCESS) r = set.Commit(), failed_line = 0;
    if (r == ERROR_SUCCESS) return Done();
    std::string where = failed_line ? "line " + std::to_string(failed_line) + ": " : "";
    std::string why = r == ERROR_BUSY ? Missing(r).substr(7) : ErrorText(r) + " Nothing was imported.\n";
    return Fail("ERROR: " + c.file + ": " + where + why);
}

}  // namespace

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
