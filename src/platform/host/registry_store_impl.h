// The registry store's state, shared by the files that implement it: keys and values
// (registry_store.cpp) and batches of changes (registry_batch.cpp).
#pragma once

#include <mutex>
#include <optional>
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

    std::string file;
    std::mutex mu;
    Connection db;  // first in, last out: statements are finalized before it closes
    // SQLite's handle of the main file, asked for once: it lives as long as the connection, and
    // asking walks a dozen of SQLite's functions on every tick.
    sqlite3_file* main_file = nullptr;

    Transactions txn;
    Statement key_exists, key_path, key_parent, find_key, find_key_under, insert_key, touch_key;
    Statement has_children, delete_key, delete_key_values, child_at;
    Statement delete_subtree_values, delete_subtree;
    Statement get_value, upsert_value, delete_value, value_walk;
    // Where the last enumeration of values stood. Enumerating in order steps on from there
    // (value_walk stays open between the calls) while nothing was written since; anything else
    // starts the walk again from the key's first value.
    struct Cursor {
        RegKeyId key = 0;
        DWORD index = 0;
        std::uint64_t at = 0;  // the file's stamp when it was placed
        bool walking = false;
        RegValue last;
    } cursor;

    // Any other use of the store first ends an open walk: its read would hold this connection's
    // view of the file at the time it began.
    struct Access {
        explicit Access(Impl& s) : lock(s.mu) {
            if (s.cursor.walking) {
                sqlite3_reset(s.value_walk.get());
                s.cursor.walking = false;
            }
        }
        std::lock_guard<std::mutex> lock;
    };
    Statement bump_counter;

    // The folded path of keys met so far. A key's path never changes and its id is never
    // reused, so an entry can go stale only by its key being deleted, which the queries see.
    std::unordered_map<RegKeyId, std::string> paths;
    // What this process has read, good while the file's change counter and this process's own
    // writes stand where they stood (`known_at`): keys opened (by base id and folded path; 0 for
    // a key that is not there) and values (by key id and folded name). The monitor reads the same
    // few values every tick; this keeps those reads off the disk.
    std::uint64_t known_at = 0;
    bool sole_writer = false;             // nobody else opens the file: it changes only by this process
    const std::uint64_t* turn = nullptr;  // see CheckOncePerTurn
    std::uint64_t checked_turn = 0;       // the turn in which known_at was last checked
    std::unordered_map<std::string, RegKeyId> opened;
    std::unordered_map<std::string, Known> values;
    // The same, by the names exactly as the caller spelt them: a repeated read skips folding and
    // splitting its path. Values point into `values`, whose nodes stay put until it is cleared.
    std::unordered_map<std::string, RegKeyId> opened_as_asked;
    std::unordered_map<std::string, const Known*> values_as_asked;
    // Scratch space, reused from call to call.
    std::vector<std::u16string_view> names;
    std::string path, fold, known_key, asked_key;
    Known read;

    // What a batch has learnt so far: keys by folded path, the ones it made included, and the keys
    // whose last-write time it has already moved.
    struct Batch {
        std::int64_t now = 0;
        std::unordered_map<std::string, RegKeyId> keys;
        std::unordered_set<RegKeyId> touched;
    };

    explicit Impl(const DeviceFolder& folder);
    void Prepare(Statement& s, const char* sql);

    LONG KeyExists(RegKeyId key);
    LONG PathOf(RegKeyId key, std::string* out);
    void Remember(RegKeyId key, const std::string& p);
    // Where the file stands: its change counter (which every commit moves, whoever makes it)
    // beside this process's own writes; nothing while that cannot be told.
    std::optional<std::uint64_t> Stamp();
    // Whether what this process knows still holds; forgets it all when it does not.
    bool Trusted();
    void KnownKey(RegKeyId id, const std::string& tail);
    void AskedKey(RegKeyId id, std::u16string_view tail);
    LONG Find(RegKeyId base, std::size_t base_length, RegKeyId* key);
    const Known& Read(RegKeyId key);

    LONG Change(Batch& b, const RegChange& c);
    LONG Lookup(Batch& b, const std::string& key_path, RegKeyId* key);
    LONG Touch(Batch& b, RegKeyId key);
    LONG DeleteSubtree(Batch& b, RegKeyId key, const std::string& key_path);
};

}  // namespace host
