// The registry store's state, shared by the files that implement it: keys and values
// (registry_store.cpp), writes and the resident loop's commits (registry_writes.cpp) and batches
// of changes (registry_batch.cpp).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/host/registry_file.h"
#include "platform/host/registry_names.h"

namespace host {

using namespace regdb;

struct RegistryStore::Impl {
    // A value as read, or why it could not be read.
    struct Known {
        LONG status = ERROR_SUCCESS;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };

    // A value written or deleted; kept when the resident loop finds another process holding the
    // store, and made later, in order.
    struct Held {
        RegKeyId key = 0;
        std::u16string name;
        std::string fold;
        bool erase = false;
        DWORD type = REG_NONE;  // any number, as written
        std::vector<BYTE> data;
    };

    std::string file;
    const DeviceFolder& folder;
    std::mutex mu;
    Connection db;  // first in, last out: statements are finalized before it closes

    Statement begin, begin_read, commit, rollback, savepoint, release, rollback_to, data_version;
    Statement key_exists, key_path, key_parent, find_key, find_key_under, insert_key, touch_key;
    Statement has_children, delete_key, delete_key_values, child_at;
    Statement delete_subtree_values, delete_subtree;
    Statement get_value, upsert_value, delete_value, value_walk;
    Statement bump_counter;

    // Where the last enumeration of values stood. Enumerating in order steps on from there, in
    // the snapshot the walk began with, while nothing else uses the store; anything else ends
    // the walk, and the next call starts it again from the key's first value.
    struct Cursor {
        RegKeyId key = 0;
        DWORD index = 0;
        bool walking = false;
        RegValue last;
    } cursor;

    // Any other use of the store first ends an open walk: its read would hold this connection's
    // snapshot of the file.
    struct Access {
        explicit Access(Impl& s) : lock(s.mu) {
            s.EndWalk();
            s.Snapshot();
        }
        std::lock_guard<std::mutex> lock;
    };

    // The resident loop (CommitAtWaits): writes stay in one transaction until the loop waits.
    bool resident = false;
    bool reading = false;       // the loop's turn reads one snapshot, until it writes or waits
    bool writing = false;       // a write transaction of this connection is open
    bool committed = false;  // this process has written to the file
    std::vector<Held> held;     // in the order they were made
    HeldWrites held_observer;
    // What the resident loop last read, by key and folded name (values) or by base and folded
    // path (keys): given again when another process keeps the file from being read at once.
    std::map<std::pair<RegKeyId, std::string>, Known> last_values;
    std::map<std::pair<RegKeyId, std::string>, RegKeyId> last_keys;

    // What a batch has learnt so far: keys by folded path, the ones it made included, and the keys
    // whose last-write time it has already moved.
    struct Batch {
        std::int64_t now = 0;
        std::unordered_map<std::string, RegKeyId> keys;
        std::unordered_set<RegKeyId> touched;
    };

    explicit Impl(const DeviceFolder& folder);
    void Prepare(Statement& s, const char* sql);
    void EndWalk();
    void Snapshot();
    void EndRead();

    LONG KeyExists(RegKeyId key);
    LONG PathOf(RegKeyId key, std::string* out);
    // A subkey named below a key.
    struct Subkey {
        std::vector<std::u16string_view> names;
        std::string base_path;  // the key's
        std::string path;       // the subkey's
    };
    LONG Below(RegKeyId base, std::u16string_view subkey, Subkey* out);
    LONG Open(RegKeyId base, bool below, const std::string& path, RegKeyId* key);
    LONG Find(RegKeyId base, const std::string& path, RegKeyId* key);
    Known Read(RegKeyId key, const std::string& fold);
    const Held* HeldFor(RegKeyId key, const std::string& fold) const;

    // Writes (registry_writes.cpp).
    int CommitOpen();
    LONG Make(const Held& h);
    LONG Write(Held h);
    LONG FlushHeld();
    LONG Put(RegKeyId key, std::u16string_view name, const std::string& fold, DWORD type, const BYTE* data,
             std::size_t size);
    LONG Erase(RegKeyId key, const std::string& fold);

    LONG Change(Batch& b, const RegChange& c);
    LONG Lookup(Batch& b, const std::string& key_path, RegKeyId* key);
    LONG Touch(Batch& b, RegKeyId key);
    LONG DeleteSubtree(Batch& b, RegKeyId key, const std::string& key_path);
};

// One call's changes, all or none. Outside the resident loop it is a transaction of its own,
// committed by Done(); in the loop it joins the loop's open transaction as a savepoint, and the
// loop commits them all before it next waits.
class WriteScope {
public:
    explicit WriteScope(RegistryStore::Impl& s);
    ~WriteScope();
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

    bool open() const { return open_; }
    int rc() const { return rc_; }
    // SQLITE_DONE when the changes stand.
    int Done();

private:
    RegistryStore::Impl& s_;
    int rc_ = SQLITE_OK;
    bool open_ = false;
    bool nested_ = false;
};

}  // namespace host
