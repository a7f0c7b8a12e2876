#include "platform/host/registry_store.h"

#include <cstring>

#include "platform/host/registry_store_impl.h"

namespace host {

RegistryStore::Impl::Impl(const DeviceFolder& folder) : file(folder.PathOf("registry.db")) {
    OpenStore(folder, file, db);
    txn.db = db.get();
    Prepare(txn.begin, "BEGIN IMMEDIATE");
    Prepare(txn.commit, "COMMIT");
    Prepare(txn.rollback, "ROLLBACK");
    Prepare(key_exists, "SELECT 1 FROM keys WHERE id = ?1");
    Prepare(key_path, "SELECT path FROM keys WHERE id = ?1");
    Prepare(key_parent, "SELECT parent FROM keys WHERE id = ?1");
    Prepare(find_key, "SELECT id FROM keys WHERE path = ?1");
    Prepare(find_key_under, "SELECT id FROM keys WHERE path = ?1 AND EXISTS (SELECT 1 FROM keys WHERE id = ?2)");
    Prepare(insert_key, "INSERT INTO keys (parent, path, name, written) VALUES (?1, ?2, ?3, ?4)");
    Prepare(touch_key, "UPDATE keys SET written = ?2 WHERE id = ?1");
    Prepare(has_children, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    Prepare(delete_key, "DELETE FROM keys WHERE id = ?1");
    Prepare(delete_key_values, "DELETE FROM vals WHERE key = ?1");
    // A key's subtree is the range of paths that continue its own with a separator ("\0\\").
    Prepare(delete_subtree_values,
            "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE path >= ?1 AND path < ?2)");
    Prepare(delete_subtree, "DELETE FROM keys WHERE path >= ?1 AND path < ?2");
    Prepare(child_at, "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2");
    Prepare(get_value, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    Prepare(upsert_value,
            "INSERT INTO vals (key, fold, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT (key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    Prepare(delete_value, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
    // Files made before values were indexed by key get the index now; a file that cannot be
    // written does without it.
    sqlite3_exec(db.get(), "CREATE INDEX IF NOT EXISTS vals_by_key ON vals (key, id)", nullptr, nullptr, nullptr);
    Prepare(value_walk, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id");
    txn.walk = value_walk.get();
    Prepare(bump_counter,
            "INSERT INTO counters (name, last) VALUES (?1, ?2) "
            "ON CONFLICT (name) DO UPDATE SET last = (last + 1) & 4294967295 RETURNING last");

    for (const RootKey& r : kRoots)
        paths.emplace(r.id, RootPath(r.id));
}

void RegistryStore::Impl::Prepare(Statement& s, const char* sql) {
    if (!s.Prepare(db.get(), sql)) db.Throw(file, "does not have the layout of a handheld registry");
}

LONG RegistryStore::Impl::KeyExists(RegKeyId key) {
    Run q(key_exists);
    int rc = q.Int(1, key).Step();
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Failed(rc, false);
}

LONG RegistryStore::Impl::PathOf(RegKeyId key, std::string* out) {
    if (auto it = paths.find(key); it != paths.end()) {
        *out = it->second;
        return ERROR_SUCCESS;
    }
    Run q(key_path);
    int rc = q.Int(1, key).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Failed(rc, false);
    out->assign(static_cast<const char*>(q.Bytes(0)), static_cast<std::size_t>(q.Size(0)));
    Remember(key, *out);
    return ERROR_SUCCESS;
}

void RegistryStore::Impl::Remember(RegKeyId key, const std::string& p) {
    if (paths.size() >= 4096) {
        paths.clear();
        for (const RootKey& r : kRoots)
            paths.emplace(r.id, RootPath(r.id));
    }
    paths.emplace(key, p);
}

std::optional<std::uint64_t> RegistryStore::Impl::Stamp() {
    if (txn.writing) return std::nullopt;
    // The file's counter moves only with this process's own writes, which the low half counts.
    if (sole_writer) return txn.writes << 32 | (txn.writes & 0xFFFFFFFFu);
    // Read through SQLite's own handle of the file: no second open, and a file cut short by
    // somebody else is a failed read, not a signal.
    if (!main_file && sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_FILE_POINTER, &main_file) != SQLITE_OK)
        main_file = nullptr;
    sqlite3_file* f = main_file;
    if (!f || !f->pMethods) return std::nullopt;
    unsigned char counter[4];
    if (f->pMethods->xRead(f, counter, sizeof counter, 24) != SQLITE_OK) return std::nullopt;
    std::uint64_t c = std::uint64_t{counter[0]} << 24 | counter[1] << 16 | counter[2] << 8 | counter[3];
    return c << 32 | (txn.writes & 0xFFFFFFFFu);
}

bool RegistryStore::Impl::Trusted() {
    const bool full = opened.size() + values.size() + opened_as_asked.size() + values_as_asked.size() > 8192;
    // This process's own writes move the stamp's low half without a look at the file.
    if (turn && *turn && *turn == checked_turn && !txn.writing && !full &&
        (known_at & 0xFFFFFFFFu) == (txn.writes & 0xFFFFFFFFu))
        return true;
    std::optional<std::uint64_t> now = Stamp();
    if (!now) return false;
    if (*now != known_at || full) {
        opened.clear();
        values.clear();
        opened_as_asked.clear();
        values_as_asked.clear();
        known_at = *now;
    }
    checked_turn = turn ? *turn : 0;
    return true;
}

void RegistryStore::Impl::KnownKey(RegKeyId id, const std::string& tail) {
    known_key.assign(reinterpret_cast<const char*>(&id), sizeof id);
    known_key += tail;
}

void RegistryStore::Impl::AskedKey(RegKeyId id, std::u16string_view tail) {
    asked_key.assign(reinterpret_cast<const char*>(&id), sizeof id);
    asked_key.append(reinterpret_cast<const char*>(tail.data()), tail.size() * sizeof(char16_t));
}

// Finds the key at `path` (whose first base_length bytes are the path of `base`).
LONG RegistryStore::Impl::Find(RegKeyId base, std::size_t base_length, RegKeyId* key) {
    // Trust is decided before the file is read: a commit landing in between moves the counter.
    bool trusted = Trusted();
    KnownKey(base, path);
    if (trusted) {
        if (auto it = opened.find(known_key); it != opened.end()) {
            // 0 remembers that there is no such key: the hardware asks for absent settings each tick.
            if (it->second == 0) return ERROR_FILE_NOT_FOUND;
            *key = it->second;
            return ERROR_SUCCESS;
        }
    }
    {
        Run q(find_key_under);
        int rc = q.Blob(1, path).Int(2, base).Step();
        if (rc == SQLITE_ROW) {
            *key = q.Int(0);
            if (path.size() > base_length) Remember(*key, path);
            if (trusted) opened.emplace(known_key, *key);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return Failed(rc, false);
    }
    LONG r = KeyExists(base);
    if (r != ERROR_SUCCESS) return r;
    if (trusted) opened.emplace(known_key, 0);
    return ERROR_FILE_NOT_FOUND;
}

// The value named by `fold` in `key`.
const RegistryStore::Impl::Known& RegistryStore::Impl::Read(RegKeyId key) {
    bool trusted = Trusted();
    KnownKey(key, fold);
    if (trusted) {
        if (auto it = values.find(known_key); it != values.end()) return it->second;
    }
    read.type = REG_NONE;
    read.data.clear();
    {
        Run q(get_value);
        int rc = q.Int(1, key).Blob(2, fold).Step();
        if (rc == SQLITE_ROW) {
            read.status = ERROR_SUCCESS;
            read.type = static_cast<DWORD>(q.Int(0));
            auto* p = static_cast<const BYTE*>(q.Bytes(1));
            read.data.assign(p, p + q.Size(1));
        } else {
            read.status = rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Failed(rc, false);
        }
    }
    if (read.status == ERROR_FILE_NOT_FOUND) {
        LONG r = KeyExists(key);
        if (r != ERROR_SUCCESS) read.status = r;
    }
    bool lasting =
        read.status == ERROR_SUCCESS || read.status == ERROR_FILE_NOT_FOUND || read.status == ERROR_KEY_DELETED;
    if (trusted && lasting && read.data.size() <= 4096) return values.emplace(known_key, read).first->second;
    return read;
}

RegistryStore::RegistryStore(const DeviceFolder& folder) : impl_(std::make_unique<Impl>(folder)) {}

RegistryStore::~RegistryStore() = default;

void RegistryStore::SoleWriter() {
    impl_->sole_writer = true;
    // Nobody to share the file with: the connection keeps its lock and its journal file from one
    // transaction to the next, instead of taking and dropping them (and looking for a left-over
    // journal) around every read and write.
    sqlite3_exec(impl_->db.get(), "PRAGMA locking_mode = EXCLUSIVE", nullptr, nullptr, nullptr);
}

void RegistryStore::CheckOncePerTurn(const std::uint64_t* turn) { impl_->turn = turn; }

std::optional<std::uint64_t> RegistryStore::Version() {
    Impl::Access access(*impl_);
    if (!impl_->Trusted()) return std::nullopt;
    return impl_->known_at;
}

const std::string& RegistryStore::file() const { return impl_->file; }

std::string RegistryStore::CheckWhole() {
    Impl::Access access(*impl_);
    return regdb::CheckWhole(impl_->db);
}

RegKeyId RegistryStore::Root(HKEY root) {
    // The roots are negative 32-bit values; like Win32, look at the low 32 bits only.
    auto v = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(root));
    for (const auto& r : kRoots)
        if (r.hkey == v) return r.id;
    return 0;
}

LONG RegistryStore::OpenKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key) {
    Impl& s = *impl_;
    Impl::Access access(s);
    const bool trusted = s.Trusted();
    s.AskedKey(base, subkey);
    if (trusted) {
        if (auto it = s.opened_as_asked.find(s.asked_key); it != s.opened_as_asked.end()) {
            if (it->second == 0) return ERROR_FILE_NOT_FOUND;
            *key = it->second;
            return ERROR_SUCCESS;
        }
    }
    if (LONG r = Split(subkey, &s.names)) return r;
    if (LONG r = s.PathOf(base, &s.path)) return r;
    std::size_t base_length = s.path.size();
    for (auto name : s.names)
        AppendComponent(&s.path, name);
    LONG r = s.Find(base, base_length, key);
    if (trusted && (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND))
        s.opened_as_asked.emplace(s.asked_key, r == ERROR_SUCCESS ? *key : 0);
    return r;
}

LONG RegistryStore::CreateKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key, bool* created) {
    Impl& s = *impl_;
    Impl::Access access(s);
    if (LONG r = Split(subkey, &s.names)) return r;
    if (LONG r = s.PathOf(base, &s.path)) return r;
    for (auto name : s.names)
        if (LONG r = CheckKeyName(name)) return r;
    if (Depth(s.path) + s.names.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    std::size_t base_length = s.path.size();
    for (auto name : s.names)
        AppendComponent(&s.path, name);
    RegKeyId found = 0;
    LONG r = s.Find(base, base_length, &found);
    if (r != ERROR_FILE_NOT_FOUND) {
        if (r == ERROR_SUCCESS) {
            *key = found;
            *created = false;
        }
        return r;
    }

    WriteTransaction t(s.txn);
    if (!t.open()) return Failed(t.rc(), true);
    if (LONG e = s.KeyExists(base)) return e;
    std::string prefix = s.path.substr(0, base_length);
    std::int64_t now = FileTimeNow();
    RegKeyId parent = base;
    bool made = false;
    for (auto name : s.names) {
        AppendComponent(&prefix, name);
        {
            Run f(s.find_key);
            int rc = f.Blob(1, prefix).Step();
            if (rc == SQLITE_ROW) {
                parent = f.Int(0);
                continue;
            }
            if (rc != SQLITE_DONE) return Failed(rc, false);
        }
        if (!made) {
            Run touch(s.touch_key);
            if (int rc = touch.Int(1, parent).Int(2, now).Step(); rc != SQLITE_DONE) return Failed(rc, true);
        }
        Run insert(s.insert_key);
        int rc = insert.Int(1, parent).Blob(2, prefix).Blob(3, Exact(name)).Int(4, now).Step();
        if (rc != SQLITE_DONE) return Failed(rc, true);
        parent = sqlite3_last_insert_rowid(s.db.get());
        made = true;
    }
    if (int rc = t.Commit(); rc != SQLITE_DONE) return Failed(rc, true);
    s.Remember(parent, s.path);
    *key = parent;
    *created = made;
    return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteKey(RegKeyId key) {
    Impl& s = *impl_;
    Impl::Access access(s);
    if (key >= 1 && key <= kLastRoot) return ERROR_ACCESS_DENIED;
    WriteTransaction t(s.txn);
    if (!t.open()) return Failed(t.rc(), true);
    RegKeyId parent = 0;
    {
        Run q(s.key_parent);
        int rc = q.Int(1, key).Step();
        if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Failed(rc, false);
        parent = q.Int(0);
    }
    {
        Run q(s.has_children);
        int rc = q.Int(1, key).Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE) return Failed(rc, false);
    }
    for (Statement* st : {&s.delete_key_values, &s.delete_key}) {
        Run d(*st);
        if (int rc = d.Int(1, key).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    {
        Run touch(s.touch_key);
        if (int rc = touch.Int(1, parent).Int(2, FileTimeNow()).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    if (int rc = t.Commit(); rc != SQLITE_DONE) return Failed(rc, true);
    s.paths.erase(key);
    return ERROR_SUCCESS;
}

LONG RegistryStore::EnumKey(RegKeyId key, DWORD index, std::u16string* name, std::uint64_t* written) {
    Impl& s = *impl_;
    Impl::Access access(s);
    {
        Run q(s.child_at);
        int rc = q.Int(1, key).Int(2, index).Step();
        if (rc == SQLITE_ROW) {
            *name = FromExact(q.Bytes(0), q.Size(0));
            *written = static_cast<std::uint64_t>(q.Int(1));
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return Failed(rc, false);
    }
    LONG r = s.KeyExists(key);
    return r == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : r;
}

LONG RegistryStore::GetValue(RegKeyId key, std::u16string_view name, RegValue* value) {
    Impl& s = *impl_;
    Impl::Access access(s);
    const bool trusted = s.Trusted();
    s.AskedKey(key, name);
    const Impl::Known* known = nullptr;
    if (trusted) {
        if (auto it = s.values_as_asked.find(s.asked_key); it != s.values_as_asked.end()) known = it->second;
    }
    if (!known) {
        s.fold.clear();
        AppendFolded(&s.fold, name);
        known = &s.Read(key);
        if (trusted && known != &s.read) s.values_as_asked.emplace(s.asked_key, known);
    }
    if (known->status == ERROR_SUCCESS) {
        value->type = known->type;
        value->data.assign(known->data.begin(), known->data.end());
    }
    return known->status;
}

LONG RegistryStore::SetValue(RegKeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    if (LONG r = CheckValueName(name)) return r;
    Impl& s = *impl_;
    Impl::Access access(s);
    s.fold.clear();
    AppendFolded(&s.fold, name);
    // Most writes (the monitor's every 1.5 s) store what is already there: find that out
    // without taking the write lock, and leave the disk alone.
    const Impl::Known& known = s.Read(key);
    if (known.status == ERROR_SUCCESS && known.type == type && known.data.size() == size &&
        (size == 0 || std::memcmp(known.data.data(), data, size) == 0))
        return ERROR_SUCCESS;
    if (known.status != ERROR_SUCCESS && known.status != ERROR_FILE_NOT_FOUND) return known.status;

    WriteTransaction t(s.txn);
    if (!t.open()) return Failed(t.rc(), true);
    {
        Run touch(s.touch_key);
        if (int rc = touch.Int(1, key).Int(2, FileTimeNow()).Step(); rc != SQLITE_DONE) return Failed(rc, true);
        if (sqlite3_changes(s.db.get()) == 0) return ERROR_KEY_DELETED;
    }
    {
        Run up(s.upsert_value);
        int rc = up.Int(1, key).Blob(2, s.fold).Blob(3, Exact(name)).Int(4, type).Blob(5, data, size).Step();
        if (rc != SQLITE_DONE) return Failed(rc, true);
    }
    if (int rc = t.Commit(); rc != SQLITE_DONE) return Failed(rc, true);
    return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteValue(RegKeyId key, std::u16string_view name) {
    Impl& s = *impl_;
    Impl::Access access(s);
    s.fold.clear();
    AppendFolded(&s.fold, name);
    if (LONG r = s.Read(key).status) return r;
    WriteTransaction t(s.txn);
    if (!t.open()) return Failed(t.rc(), true);
    {
        Run d(s.delete_value);
        if (int rc = d.Int(1, key).Blob(2, s.fold).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    // Another process may have deleted it in the meantime: then there is nothing to commit.
    if (sqlite3_changes(s.db.get()) == 0) {
        LONG r = s.KeyExists(key);
        return r == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : r;
    }
    {
        Run touch(s.touch_key);
        if (int rc = touch.Int(1, key).Int(2, FileTimeNow()).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    if (int rc = t.Commit(); rc != SQLITE_DONE) return Failed(rc, true);
    return ERROR_SUCCESS;
}

LONG RegistryStore::EnumValue(RegKeyId key, DWORD index, RegValue* value) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);  // the walk stays open
    Impl::Cursor& c = s.cursor;
    std::optional<std::uint64_t> stamp = s.Stamp();
    std::uint64_t now = stamp.value_or(0);
    bool current = stamp && c.walking && c.key == key && c.at == now;
    // The value just given, asked for again (with a bigger buffer, say).
    if (current && index == c.index) {
        *value = c.last;
        return ERROR_SUCCESS;
    }
    sqlite3_stmt* q = s.value_walk.get();
    DWORD steps = 1;
    if (!current || index != c.index + 1) {
        sqlite3_reset(q);
        sqlite3_bind_int64(q, 1, key);
        steps = index + 1;
    }
    c.walking = false;
    int rc = SQLITE_ROW;
    for (DWORD i = 0; i < steps && rc == SQLITE_ROW; ++i)
        rc = sqlite3_step(q);
    if (rc == SQLITE_ROW) {
        c.key = key;
        c.index = index;
        c.at = now;
        c.walking = true;
        c.last.name = FromExact(sqlite3_column_blob(q, 0), sqlite3_column_bytes(q, 0));
        c.last.type = static_cast<DWORD>(sqlite3_column_int64(q, 1));
        auto* p = static_cast<const BYTE*>(sqlite3_column_blob(q, 2));
        c.last.data.assign(p, p + sqlite3_column_bytes(q, 2));
        *value = c.last;
        return ERROR_SUCCESS;
    }
    sqlite3_reset(q);
    if (rc != SQLITE_DONE) return Failed(rc, false);
    LONG r = s.KeyExists(key);
    return r == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : r;
}

std::uint32_t RegistryStore::NextCounter(const char* name, std::uint32_t first) {
    Impl& s = *impl_;
    Impl::Access access(s);
    WriteTransaction t(s.txn);
    if (!t.open()) s.db.Throw(s.file, "cannot be written");
    std::uint32_t value = 0;
    {
        Run q(s.bump_counter);
        if (q.Text(1, name).Int(2, first).Step() != SQLITE_ROW) s.db.Throw(s.file, "cannot be written");
        value = static_cast<std::uint32_t>(q.Int(0));
        if (q.Step() != SQLITE_DONE) s.db.Throw(s.file, "cannot be written");
    }
    if (t.Commit() != SQLITE_DONE) s.db.Throw(s.file, "cannot be written");
    return value;
}

}  // namespace host
