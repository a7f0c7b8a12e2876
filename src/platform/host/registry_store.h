// The device's registry, kept in SQLite in the device folder.
//
// The store speaks in key ids and Win32 error codes; registry_api.cpp puts the Reg* functions
// and their HKEY handles on top.
//
// Why SQLite's write-ahead log (registry.db-wal, with its index registry.db-shm): the resident
// loop and the programs beside it (a status, an import, a reg query) share the file, and the loop
// must never wait for them. With the log a reader never waits for a writer: it reads the last
// commit, even while a writer is stopped half-way through its own. A commit is one sync of the
// log (two when it starts the log afresh, whose header is synced first). The pages go home at
// checkpoints, which SQLite runs as the log grows, and which a process that wrote runs as it
// closes unless another process is in its way. SQLite's own checkpoint on closing is off: it holds
// the file's exclusive lock, so that a process stopped in it (Ctrl-Z) would keep every other from
// reading; ours holds writers only, and SQLite removes the log, once empty, when the last process
// closes. A writer killed at any point leaves frames without a commit mark, which the next reader
// ignores: every key is wholly as before or wholly as after. Nothing here ever
// deletes, cuts or rewrites the log, its index or a journal; only SQLite does.
//
// The index (-shm) is mapped by every process that has the store open. It is kept twice over
// with checksums in its header: one found damaged is rebuilt by SQLite from the log, which is the
// durable copy, and the first process to open the store after everyone closed it starts the index
// afresh. It lives in the owner's folder (0700) and is the owner's alone (0600): a process of the
// owner that cuts it short while others map it can fault them, as it could by cutting the store.
//
// Commits. A command (`handheld reg add`, an import, a delete) commits each call before it
// reports success. The resident loop (CommitAtWaits) makes the writes of a turn one transaction,
// committed before the loop next waits: at the end of the turn, before Sleep, a modal loop, a
// serial wait or a message sent to another process. Another program sees them as soon as it
// could run on the handheld. A crash loses at most the writes of the turn in progress, as the
// handheld's own registry, which flushes lazily, loses those not flushed yet.
//
// Other processes. Their commits show at once: each call reads the file through SQLite, whose
// page cache and `PRAGMA data_version` tell what changed. A call of the resident loop waits for
// another process's lock a few milliseconds at most (kLoopWaitMs): a value write that finds the
// store busy is kept, in order, and committed before a later wait; a read that cannot be made at
// once gives the value the loop last read. A command waits up to two seconds (kCommandWaitMs)
// and then says which process holds the lock.
#pragma once

#include <cstdint>
#include <functional>
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
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112L
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
class WriteScope;

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
    // The process holding the store's write lock ("process 1234"), or empty when none does.
    std::string WriteLockHolder() const;
    // Reads the whole file: empty when it is sound, otherwise what is damaged, a line each.
    std::string CheckWhole();

    // Moves whenever the registry changes, by this process or another; empty while it cannot
    // be told (the file cannot be read).
    std::optional<std::uint64_t> Version();
    // Nobody else opens this registry (a scenario's device, in a folder of its own): the
    // connection keeps its lock from one transaction to the next.
    void SoleWriter();

    // This process runs the system's loop: writes wait for Commit, which the device calls before
    // every wait, and no call waits long for another process (see above).
    void CommitAtWaits();
    // Commits the loop's writes, and those kept while the store was busy; ERROR_BUSY while they
    // are still kept. Nothing to do outside the loop, where every call commits at once.
    LONG Commit();
    // Told when the loop's writes are first kept because `holder` ("process 1234", or empty when
    // it cannot be told) has the store, with how many are kept; and again with 0 once they are
    // committed.
    using HeldWrites = std::function<void(std::size_t kept, const std::string& holder)>;
    void ObserveHeldWrites(HeldWrites observer);

    // The key of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_USERS; 0 for
    // any other value.
    static RegKeyId Root(HKEY root);

    // The calls below return Win32 error codes. Common to all: ERROR_KEY_DELETED when `key`
    // (or `base`) has been deleted, ERROR_BADDB / ERROR_CANTREAD / ERROR_CANTWRITE when the file
    // fails, ERROR_BUSY when another process holds it, ERROR_DISK_FULL. Paths are subkey names separated by '\'; a path
    // starting with '\' is ERROR_BAD_PATHNAME, doubled and trailing separators are ignored, an empty path names `base`
    // itself. Names compare without regard to case and keep the spelling they were created with.

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
    friend class WriteScope;
    std::unique_ptr<Impl> impl_;
};

}  // namespace host
