// The reg commands (add, delete, query, export, import), each change in one transaction.
#include "handheld/reg_command.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <optional>

#include "handheld/reg_display.h"
#include "handheld/reg_file.h"
#include "handheld/reg_syntax.h"
#include "handheld/reg_tree.h"
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
    return Fail("ERROR: " + c.file + ": " + where + ErrorText(r) + " Nothing was imported.\n");
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
