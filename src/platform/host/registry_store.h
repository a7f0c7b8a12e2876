// The device's registry, kept in SQLite in the device folder.
//
// The store speaks in key ids and Win32 error codes; registry_api.cpp puts the Reg* functions
// and their HKEY handles on top. Every call is its own transaction (Apply makes many changes
// one): what one returns is on the disk, and every other process on the device sees it at once.
//
// A change is written through a rollback journal (registry.db-journal, there only while it is
// written or after a writer was killed), and nothing of the store is mapped into memory, so
// nothing another process does to these files can kill this one. Each call asks the file; SQLite
// keeps its pages while the file's change counter stands still.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/seam.h"

// Win32 codes the registry returns that the seam does not name yet.
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif

namespace host {

// A key in the store. Ids are never reused, so the id of a deleted key stays dead.
using RegKeyId = std::int64_t;

// Win32's limits on what can be made: longer names and deeper keys are ERROR_INVALID_PARAMETER.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr std::size_t kMaxKeyDepth = 512;  // names on a key's path below its root

struct RegValue {
    std::u16string name;  // as it was first written
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class DeviceFolder;

// One change of a batch (RegistryStore::Apply).
struct RegChange {
    enum class Kind {
        kCreateKey,     // the key at `path`, and whatever is missing on the way to it
        kDeleteTree,    // the key at `path` and everything below it
        kSetValue,      // `name` in the key at `path`, which must exist
        kDeleteValue,   // `name` in the key at `path`
        kDeleteValues,  // every value of the key at `path`
    };
    Kind kind = Kind::kCreateKey;
    RegKeyId base = 0;  // `path` starts here, as for CreateKey
    std::u16string path;
    bool if_present = false;  // deleting what is not there is no failure
    std::u16string name;      // kSetValue, kDeleteValue
    DWORD type = REG_NONE;    // kSetValue
    std::vector<BYTE> data;   // kSetValue
};

class RegistryStore {
public:
    // Opens <folder>/registry.db; a new device's store is created holding the system keys that
    // exist before the first run. Throws DeviceError naming the file when it (or a file SQLite
    // keeps beside it) is a link, another user's or read-only, or when it is damaged or not a
    // handheld registry; such a file is never touched, nor anything made beside it.
    explicit RegistryStore(const DeviceFolder& folder);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // <folder>/registry.db
    const std::string& file() const;
    // Reads the whole file: empty when it is sound, otherwise what is damaged, a line each.
    std::string CheckWhole();

    // What this process reads is kept and checked against the file before it is used again.
    // Within one nonzero value of `*turn` it is checked once: what another process writes
    // meanwhile is seen when the turn changes. 0 means "check every time", as without a turn.
    void CheckOncePerTurn(const std::uint64_t* turn);
    // Moves whenever the registry changes, by this process or another; empty while it cannot
    // be told (the file cannot be read, or this process is in the middle of a change). Within a
    // turn, another process's change shows once the turn changes, as the reads do.
    std::optional<std::uint64_t> Version();
    // Nobody else opens this registry (a scenario's device, in a folder of its own): what this
    // process has not changed has not changed, and the file is not asked.
    void SoleWriter();

    // The key of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_USERS; 0 for
    // any other value.
    static RegKeyId Root(HKEY root);

    // The calls below return Win32 error codes. Common to all: ERROR_KEY_DELETED when `key`
    // (or `base`) has been deleted, ERROR_BADDB / ERROR_CANTREAD / ERROR_CANTWRITE when the file
    // fails. Paths are subkey names separated by '\'; a path starting with '\' is
    // ERROR_BAD_PATHNAME, doubled and trailing separators are ignored, an empty path names
    // `base` itself. Names compare without regard to case and keep the spelling they were
    // created with.

    // ERROR_FILE_NOT_FOUND when any key on the path is missing.
    LONG OpenKey(RegKeyId base, std::u16string_view path, RegKeyId* key);
    // Creates whatever is missing along the path; *created tells whether the last key is new.
    // ERROR_INVALID_PARAMETER for a name of more than kMaxKeyName characters or holding a control
    // character (a name must be printable to be written out and read back), or a key deeper than
    // kMaxKeyDepth; nothing is created then.
    LONG CreateKey(RegKeyId base, std::u16string_view path, RegKeyId* key, bool* created);
    // Only a key without subkeys can go (ERROR_ACCESS_DENIED otherwise, and for a root); its
    // values go with it.
    LONG DeleteKey(RegKeyId key);
    // The index-th subkey, in case-insensitive name order, and its last-write time (FILETIME);
    // ERROR_NO_MORE_ITEMS past the end.
    LONG EnumKey(RegKeyId key, DWORD index, std::u16string* name, std::uint64_t* written);

    // Fills type and data (not the name); ERROR_FILE_NOT_FOUND when there is no such value.
    LONG GetValue(RegKeyId key, std::u16string_view name, RegValue* value);
    // Any type number; data kept byte for byte. Writing what is already stored touches nothing.
    // ERROR_INVALID_PARAMETER for a name of more than kMaxValueName characters or holding NUL.
    LONG SetValue(RegKeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size);
    LONG DeleteValue(RegKeyId key, std::u16string_view name);
    // The index-th value in the order the values were created; ERROR_NO_MORE_ITEMS past the end.
    LONG EnumValue(RegKeyId key, DWORD index, RegValue* value);

    // Makes `changes`, in order, as one transaction: when it returns ERROR_SUCCESS all of them are
    // on the disk; otherwise none is, and *failed is the index of the change that failed (the
    // size of `changes` when the commit did). Each fails as its single call would; deleting a
    // root is ERROR_ACCESS_DENIED, and a missing key or value ERROR_FILE_NOT_FOUND unless
    // if_present. Other processes see the registry as before or as after, never in between.
    LONG Apply(const std::vector<RegChange>& changes, std::size_t* failed);

    // The same, one change at a time, for changes too many to hold at once: all that Apply
    // made are on the disk once Commit succeeds; none if it fails, or if the set goes without
    // a Commit. The store is the set's alone meanwhile.
    class ChangeSet {
    public:
        explicit ChangeSet(RegistryStore& store);
        ~ChangeSet();
        ChangeSet(const ChangeSet&) = delete;
        ChangeSet& operator=(const ChangeSet&) = delete;

        // Why the set could not begin (the store is busy or cannot be written); then nothing
        // else may be called.
        LONG status() const;
        LONG Apply(const RegChange& change);
        LONG Commit();

    private:
        struct State;
        std::unique_ptr<State> state_;
    };

    // A counter kept with the registry, shared by every process on the device: returns `first`
    // the first time, then one more on each call. Window handles come from here, so they are
    // never reused on a device. Throws DeviceError when the file cannot be written.
    std::uint32_t NextCounter(const char* name, std::uint32_t first);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host
