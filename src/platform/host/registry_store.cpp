#include "platform/host/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/host/registry_store_impl.h"

namespace host {
namespace {

// In the loop, a read that another process keeps from being made now is answered as the same
// read was last answered; a read that was made is kept as that answer.
template <class Answer>
const Answer* LastAnswer(std::map<std::pair<RegKeyId, std::string>, Answer>& last, std::pair<RegKeyId, std::string> at,
                         LONG status, const Answer& now) {
    if (status == ERROR_BUSY) {
        auto it = last.find(at);
        return it == last.end() ? nullptr : &it->second;
    }
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) last[std::move(at)] = now;
    return nullptr;
}

}  // namespace

RegistryStore::Impl::Impl(const DeviceFolder& device) : file(device.PathOf("registry.db")), folder(device) {
    OpenStore(folder, file, db);
    Prepare(begin, "BEGIN IMMEDIATE");
    Prepare(begin_read, "BEGIN");
    Prepare(commit, "COMMIT");
    Prepare(rollback, "ROLLBACK");
    Prepare(savepoint, "SAVEPOINT call");
    Prepare(release, "RELEASE call");
    Prepare(rollback_to, "ROLLBACK TO call");
    Prepare(data_version, "PRAGMA data_version");
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
    Prepare(bump_counter,
            "INSERT INTO counters (name, last) VALUES (?1, ?2) "
            "ON CONFLICT (name) DO UPDATE SET last = (last + 1) & 4294967295 RETURNING last");
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

void RegistryStore::Impl::EndWalk() {
    if (!cursor.walking) return;
    sqlite3_reset(value_walk.get());
    cursor.walking = false;
}

// The loop's turn reads the registry as one snapshot: consistent within the turn, and one read
// lock of the log for all its reads rather than one a statement.
void RegistryStore::Impl::Snapshot() {
    if (resident && !reading && !writing && Run(begin_read).Step() == SQLITE_DONE) reading = true;
}

void RegistryStore::Impl::EndRead() {
    if (!reading) return;
    Run(commit).Step();
    reading = false;
}

LONG RegistryStore::Impl::PathOf(RegKeyId key, std::string* out) {
    if (key >= 1 && key <= kLastRoot) {
        *out = RootPath(key);
        return ERROR_SUCCESS;
    }
    Run q(key_path);
    int rc = q.Int(1, key).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Failed(rc, false);
    out->assign(static_cast<const char*>(q.Bytes(0)), static_cast<std::size_t>(q.Size(0)));
    return ERROR_SUCCESS;
}

// The key at `path`: `base` itself, or one below it.
LONG RegistryStore::Impl::Open(RegKeyId base, bool below, const std::string& path, RegKeyId* key) {
    if (below) return Find(base, path, key);
    if (LONG r = KeyExists(base)) return r;
    *key = base;
    return ERROR_SUCCESS;
}

// Finds the key at `path` below `base`.
LONG RegistryStore::Impl::Find(RegKeyId base, const std::string& path, RegKeyId* key) {
    LONG r = ERROR_SUCCESS;
    {
        Run q(find_key_under);
        int rc = q.Blob(1, path).Int(2, base).Step();
        if (rc == SQLITE_ROW) *key = q.Int(0);
        r = rc == SQLITE_ROW ? ERROR_SUCCESS : rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Failed(rc, false);
    }
    if (r == ERROR_FILE_NOT_FOUND) {
        LONG e = KeyExists(base);
        if (e != ERROR_SUCCESS) r = e;
    }
    if (!resident) return r;
    if (const RegKeyId* last = LastAnswer(last_keys, {base, path}, r, r == ERROR_SUCCESS ? *key : 0)) {
        *key = *last;
        return *key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    return r;
}

// The value named by `fold` in `key`, as this process would see it.
RegistryStore::Impl::Known RegistryStore::Impl::Read(RegKeyId key, const std::string& fold) {
    Known read;
    if (const Held* h = HeldFor(key, fold)) {
        if (h->erase) {
            read.status = ERROR_FILE_NOT_FOUND;
        } else {
            read.type = h->type;
            read.data = h->data;
        }
        return read;
    }
    {
        Run q(get_value);
        int rc = q.Int(1, key).Blob(2, fold).Step();
        if (rc == SQLITE_ROW) {
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
    if (!resident) return read;
    if (const Known* last = LastAnswer(last_values, {key, fold}, read.status, read)) return *last;
    return read;
}

const RegistryStore::Impl::Held* RegistryStore::Impl::HeldFor(RegKeyId key, const std::string& fold) const {
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        if (it->key == key && it->fold == fold) return &*it;
    return nullptr;
}

RegistryStore::RegistryStore(const DeviceFolder& folder) : impl_(std::make_unique<Impl>(folder)) {}

RegistryStore::~RegistryStore() {
    // The log's pages go home and the log is emptied, so that the next process to open the
    // store has nothing to read back; readers go on meanwhile, and nobody is waited for.
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.writing) return;
    s.EndWalk();
    sqlite3_busy_timeout(s.db.get(), 0);
    if (s.committed) sqlite3_wal_checkpoint_v2(s.db.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    // An empty log is SQLite's to remove, with its index, when the last process closes: that
    // takes the exclusive lock only for as long as it takes to remove two files.
    struct stat st {};
    if (fstatat(s.folder.fd(), "registry.db-wal", &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_size == 0)
        sqlite3_db_config(s.db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
}

void RegistryStore::SoleWriter() {
    // Nobody to share the file with: the connection keeps its lock from one transaction to the
    // next, instead of taking and dropping it around every read and write.
    sqlite3_exec(impl_->db.get(), "PRAGMA locking_mode = EXCLUSIVE", nullptr, nullptr, nullptr);
}

std::optional<std::uint64_t> RegistryStore::Version() {
    Impl& s = *impl_;
    Impl::Access access(s);
    // The pager counts every change to the file, this connection's own commits and the ones
    // it finds when a read begins. Inside a transaction nothing else can change what it reads;
    // outside one, a read is begun to look.
    if (sqlite3_txn_state(s.db.get(), "main") == SQLITE_TXN_NONE && Run(s.data_version).Step() != SQLITE_ROW)
        return std::nullopt;
    unsigned int version = 0;
    if (sqlite3_file_control(s.db.get(), "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK) return std::nullopt;
    return version;
}

const std::string& RegistryStore::file() const { return impl_->file; }

std::string RegistryStore::WriteLockHolder() const { return regdb::WriteLockHolder(impl_->folder); }

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

// The names of `subkey`, the path of `base` they continue, and the path they lead to.
LONG RegistryStore::Impl::Below(RegKeyId base, std::u16string_view subkey, Subkey* out) {
    if (LONG r = Split(subkey, &out->names)) return r;
    if (LONG r = PathOf(base, &out->base_path)) return r;
    out->path = out->base_path;
    for (auto name : out->names)
        AppendComponent(&out->path, name);
    return ERROR_SUCCESS;
}

LONG RegistryStore::OpenKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key) {
    Impl::Access access(*impl_);
    Impl::Subkey sub;
    if (LONG r = impl_->Below(base, subkey, &sub)) return r;
    return impl_->Open(base, !sub.names.empty(), sub.path, key);
}

LONG RegistryStore::CreateKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key, bool* created) {
    Impl& s = *impl_;
    Impl::Access access(s);
    Impl::Subkey sub;
    if (LONG r = s.Below(base, subkey, &sub)) return r;
    const auto& names = sub.names;
    for (auto name : names)
        if (LONG r = CheckKeyName(name)) return r;
    if (Depth(sub.base_path) + names.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    std::string prefix = sub.base_path;
    RegKeyId found = 0;
    LONG r = s.Open(base, !names.empty(), sub.path, &found);
    if (r != ERROR_FILE_NOT_FOUND) {
        if (r == ERROR_SUCCESS) {
            *key = found;
            *created = false;
        }
        return r;
    }
    // Values kept for later must land before a key is made under them.
    if (LONG f = s.FlushHeld()) return f;
    WriteScope w(s);
    if (!w.open()) return Failed(w.rc(), true);
    if (LONG e = s.KeyExists(base)) return e;
    std::int64_t now = FileTimeNow();
    RegKeyId parent = base;
    bool made = false;
    for (auto name : names) {
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
    if (int rc = w.Done(); rc != SQLITE_DONE) return Failed(rc, true);
    s.last_keys.clear();
    *key = parent;
    *created = made;
    return ERROR_SUCCESS;
}

LONG RegistryStore::DeleteKey(RegKeyId key) {
    Impl& s = *impl_;
    Impl::Access access(s);
    if (key >= 1 && key <= kLastRoot) return ERROR_ACCESS_DENIED;
    if (LONG f = s.FlushHeld()) return f;
    WriteScope w(s);
    if (!w.open()) return Failed(w.rc(), true);
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
    if (int rc = w.Done(); rc != SQLITE_DONE) return Failed(rc, true);
    s.last_keys.clear();
    s.last_values.clear();
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
    std::string fold;
    AppendFolded(&fold, name);
    Impl::Known known = s.Read(key, fold);
    if (known.status == ERROR_SUCCESS) {
        value->type = known.type;
        value->data = std::move(known.data);
    }
    return known.status;
}

LONG RegistryStore::EnumValue(RegKeyId key, DWORD index, RegValue* value) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);  // the walk stays open
    Impl::Cursor& c = s.cursor;
    // The value just given, asked for again (with a bigger buffer, say).
    if (c.walking && c.key == key && index == c.index) {
        *value = c.last;
        return ERROR_SUCCESS;
    }
    // Values kept while the store was busy are enumerated once they are in it.
    if (!s.held.empty()) {
        s.EndWalk();
        s.FlushHeld();
    }
    sqlite3_stmt* q = s.value_walk.get();
    DWORD steps = 1;
    if (!c.walking || c.key != key || index != c.index + 1) {
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

}  // namespace host
