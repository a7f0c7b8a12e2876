#include "platform/host/registry_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/host/handheld.h"

namespace host {
namespace {

constexpr std::int32_t kApplicationId = 0x50655267;  // "PeRg": a handheld registry
constexpr int kSchemaVersion = 1;

// Names are kept twice: as given (UTF-16LE, byte for byte) to hand back, and folded (upper
// case, UTF-16BE, so that byte order is character order) to look up and to sort by.
constexpr char kSchema[] = R"sql(
CREATE TABLE keys (
    id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused: a handle to a deleted key stays dead
    parent INTEGER NOT NULL,               -- 0 for the four roots
    path BLOB NOT NULL UNIQUE,             -- folded, from the root's name down, '\' between names
    name BLOB NOT NULL,                    -- the last name on the path as created
    written INTEGER NOT NULL               -- last change of the key or its values, FILETIME
);
CREATE INDEX keys_by_parent ON keys (parent, path);
CREATE TABLE vals (
    id INTEGER PRIMARY KEY,                -- creation order, which is the enumeration order
    key INTEGER NOT NULL,                  -- keys.id
    fold BLOB NOT NULL,                    -- folded name; the default value's is empty
    name BLOB NOT NULL,                    -- name as first written
    type INTEGER NOT NULL,                 -- REG_* number, any value accepted
    data BLOB NOT NULL,                    -- exactly the bytes written
    UNIQUE (key, fold)
);
CREATE TABLE counters (
    name TEXT PRIMARY KEY,
    last INTEGER NOT NULL                  -- the value handed out last
) WITHOUT ROWID;
)sql";

struct RootKey {
    std::uint32_t hkey;
    RegKeyId id;
    std::u16string_view name;
};
constexpr RootKey kRoots[] = {
    {0x80000000u, 1, u"HKEY_CLASSES_ROOT"},
    {0x80000001u, 2, u"HKEY_CURRENT_USER"},
    {0x80000002u, 3, u"HKEY_LOCAL_MACHINE"},
    {0x80000003u, 4, u"HKEY_USERS"},
};
constexpr RegKeyId kLastRoot = 4;

// What a handheld holds before the system first runs; the system opens these, never creates.
struct SystemKey {
    RegKeyId root;
    std::u16string_view path;
};
constexpr SystemKey kSystemKeys[] = {
    {2, u"Software\\MicroSoft\\Shell"},
    {2, u"ControlPanel\\Backlight"},
    {3, u"System\\CurrentControlSet\\Control\\Power\\Timeouts"},
};

// Upper case for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t Fold(char16_t c) {
    auto up = [](int v) { return static_cast<char16_t>(v); };
    if (c < 0x80) return c >= u'a' && c <= u'z' ? up(c - 0x20) : c;
    if (c < 0x100) {
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return up(c - 0x20);
        return c == 0xFF ? u'\u0178' : c;
    }
    if (c < 0x180) {
        if ((c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return up(c & ~1);
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c & 1 ? c : up(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? u'\u03A3' : up(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return up(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return up(c - 0x50);
    return c;
}

void AppendFolded(std::string* out, std::u16string_view s) {
    for (char16_t c : s) {
        char16_t f = Fold(c);
        out->push_back(static_cast<char>(f >> 8));
        out->push_back(static_cast<char>(f & 0xFF));
    }
}

void AppendComponent(std::string* path, std::u16string_view name) {
    path->push_back('\0');
    path->push_back('\\');
    AppendFolded(path, name);
}

std::string Exact(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::u16string FromExact(const void* p, int n) {
    auto* b = static_cast<const unsigned char*>(p);
    std::u16string out;
    out.reserve(static_cast<std::size_t>(n / 2));
    for (int i = 0; i + 1 < n; i += 2)
        out.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
    return out;
}

std::string RootPath(RegKeyId root) {
    std::string path;
    AppendFolded(&path, kRoots[root - 1].name);
    return path;
}

// Splits a subkey path into names, as Win32 does: no leading '\'; doubled and trailing
// separators name nothing.
LONG Split(std::u16string_view path, std::vector<std::u16string_view>* names) {
    names->clear();
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) names->push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// Read here rather than through the C++ library's system_clock, which on 32-bit ARM is built
// with a 32-bit time_t and ends in 2038.
std::int64_t FileTimeNow() {
    static_assert(sizeof(time_t) == 8, "time_t is 64-bit on every build (_TIME_BITS=64)");
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 + 116444736000000000LL;
}

LONG Failed(int rc, bool writing) {
    switch (rc & 0xFF) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return ERROR_BADDB;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

// Another process on the device is inside one short transaction: wait for it rather than
// fail the call. About a minute in all before giving up.
int WaitWhileBusy(void*, int attempt) {
    if (attempt >= 60000) return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(attempt < 20 ? 50 : 1000));
    return 1;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class Connection {
public:
    Connection() = default;
    ~Connection() { sqlite3_close_v2(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens without ever creating; throws DeviceError on failure.
    void Open(const std::string& file, int flags) {
        int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK) Throw(file, "cannot be opened");
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, WaitWhileBusy, nullptr);
    }
    sqlite3* get() const { return db_; }
    std::string Message() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }
    [[noreturn]] void Throw(const std::string& file, const char* what) const {
        throw DeviceError("the registry " + file + " " + what + ": " + Message());
    }

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // False when the schema does not have what the statement needs.
    bool Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr) == SQLITE_OK;
    }
    sqlite3_stmt* get() const { return s_; }

private:
    sqlite3_stmt* s_ = nullptr;
};

// One run of a prepared statement. Resetting it at the end ends its read transaction, so no
// call leaves a snapshot open behind it.
class Run {
public:
    explicit Run(const Statement& s) : s_(s.get()) {}
    ~Run() { sqlite3_reset(s_); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    Run& Int(int i, std::int64_t v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    // An empty blob, not NULL, for no bytes.
    Run& Blob(int i, const void* p, std::size_t n) {
        sqlite3_bind_blob64(s_, i, n ? p : "", n, SQLITE_STATIC);
        return *this;
    }
    Run& Blob(int i, const std::string& bytes) { return Blob(i, bytes.data(), bytes.size()); }
    Run& Text(int i, const char* s) {
        sqlite3_bind_text(s_, i, s, -1, SQLITE_STATIC);
        return *this;
    }
    int Step() { return sqlite3_step(s_); }

    std::int64_t Int(int col) const { return sqlite3_column_int64(s_, col); }
    const void* Bytes(int col) const { return sqlite3_column_blob(s_, col); }
    int Size(int col) const { return sqlite3_column_bytes(s_, col); }

private:
    sqlite3_stmt* s_;
};

std::string TextOf(Connection& c, const char* sql, int* rc) {
    Statement s;
    if (!s.Prepare(c.get(), sql)) {
        *rc = sqlite3_errcode(c.get());
        return {};
    }
    Run r(s);
    *rc = r.Step();
    if (*rc != SQLITE_ROW) return {};
    const unsigned char* t = sqlite3_column_text(s.get(), 0);
    return t ? reinterpret_cast<const char*>(t) : "";
}

void Exec(Connection& c, const std::string& file, const char* sql) {
    if (sqlite3_exec(c.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) c.Throw(file, "cannot be written");
}

// Checks, through a read-only connection that cannot write the file even on close, that the
// file is a sound handheld registry.
void Verify(const std::string& file) {
    Connection c;
    c.Open(file, SQLITE_OPEN_READONLY);
    sqlite3_db_config(c.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    int rc = 0;
    std::string id = TextOf(c, "PRAGMA application_id", &rc);
    if (rc != SQLITE_ROW) c.Throw(file, "cannot be read as a database");
    if (id != std::to_string(kApplicationId))
        throw DeviceError("the file " + file + " is not a handheld registry (application id " + id + ")");
    std::string version = TextOf(c, "PRAGMA user_version", &rc);
    if (version != std::to_string(kSchemaVersion))
        throw DeviceError("the registry " + file + " has layout " + version + ", this handheld reads layout " +
                          std::to_string(kSchemaVersion));
    std::string check = TextOf(c, "PRAGMA quick_check", &rc);
    if (rc != SQLITE_ROW) c.Throw(file, "cannot be checked");
    if (check != "ok") throw DeviceError("the registry " + file + " is damaged: " + check);
    std::string roots = TextOf(c, "SELECT count(*) FROM keys WHERE parent = 0 AND id <= 4", &rc);
    if (roots != "4") throw DeviceError("the registry " + file + " is damaged: its root keys are missing");
}

void InsertPath(Connection& c, const std::string& file, RegKeyId root, std::u16string_view subkey) {
    Statement find, insert;
    if (!find.Prepare(c.get(), "SELECT id FROM keys WHERE path = ?1") ||
        !insert.Prepare(c.get(), "INSERT INTO keys (parent, path, name, written) VALUES (?1, ?2, ?3, ?4)"))
        c.Throw(file, "cannot be built");
    std::vector<std::u16string_view> names;
    Split(subkey, &names);
    std::string path = RootPath(root);
    RegKeyId parent = root;
    for (auto name : names) {
        AppendComponent(&path, name);
        Run f(find);
        if (f.Blob(1, path).Step() == SQLITE_ROW) {
            parent = f.Int(0);
            continue;
        }
        Run i(insert);
        if (i.Int(1, parent).Blob(2, path).Blob(3, Exact(name)).Int(4, FileTimeNow()).Step() != SQLITE_DONE)
            c.Throw(file, "cannot be built");
        parent = sqlite3_last_insert_rowid(c.get());
    }
}

void SyncFolder(const std::string& file) {
    std::string folder = file.substr(0, file.find_last_of('/') + 1);
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Builds a new device's store beside the final name and links it into place, so that the
// store appears whole or not at all, and an existing one is never replaced.
void Create(const std::string& file) {
    std::string temp = file + ".new-" + std::to_string(getpid());
    unlink(temp.c_str());
    try {
        Connection c;
        c.Open(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Exec(c, temp, "PRAGMA synchronous = FULL; BEGIN");
        Exec(c, temp, ("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        Exec(c, temp, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        Exec(c, temp, kSchema);
        Statement root;
        if (!root.Prepare(c.get(), "INSERT INTO keys (id, parent, path, name, written) VALUES (?1, 0, ?2, ?3, ?4)"))
            c.Throw(temp, "cannot be built");
        for (const RootKey& r : kRoots) {
            Run run(root);
            if (run.Int(1, r.id).Blob(2, RootPath(r.id)).Blob(3, Exact(r.name)).Int(4, FileTimeNow()).Step() !=
                SQLITE_DONE)
                c.Throw(temp, "cannot be built");
        }
        for (const SystemKey& k : kSystemKeys)
            InsertPath(c, temp, k.root, k.path);
        Exec(c, temp, "COMMIT; PRAGMA journal_mode = WAL");
    } catch (...) {
        unlink(temp.c_str());
        throw;
    }
    int fd = open(temp.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    // Another process booting the same new device may have linked its own store first: use it.
    int linked = link(temp.c_str(), file.c_str());
    int error = errno;
    unlink(temp.c_str());
    if (linked != 0 && error != EEXIST)
        throw DeviceError("the registry " + file + " cannot be created: " + std::strerror(error));
    SyncFolder(file);
}

// A counter in shared memory beside the store that every write moves: while it stands still,
// nothing in the store has changed, and what a process read before still holds. Writers move it
// while they hold the store's write lock: to an odd value before they change anything, to the
// next even value once they are done. An odd value (also what a writer killed half-way leaves)
// means "ask the file".
class Generation {
public:
    Generation() = default;
    ~Generation() {
        if (p_) munmap(p_, kSize);
    }
    Generation(const Generation&) = delete;
    Generation& operator=(const Generation&) = delete;

    // Without the counter nothing is ever trusted, which is slower but still right.
    void Open(const std::string& path) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return;
        struct stat st {};
        bool sized = fstat(fd, &st) == 0 && (st.st_size >= kSize || ftruncate(fd, kSize) == 0);
        void* m = sized ? mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
        close(fd);
        if (m != MAP_FAILED) p_ = static_cast<Count*>(m);
    }
    std::uint64_t Now() const { return p_ ? __atomic_load_n(p_, __ATOMIC_SEQ_CST) : 1; }
    void BeginWrite() {
        if (!p_) return;
        Count c = static_cast<Count>(Now());
        __atomic_store_n(p_, c & 1 ? c + 2 : c + 1, __ATOMIC_SEQ_CST);
    }
    void EndWrite() {
        if (p_) __atomic_store_n(p_, static_cast<Count>((Now() | 1) + 1), __ATOMIC_SEQ_CST);
    }

private:
    // 32 bits, little-endian at the start of the file: other processes share it, so it must be
    // lock-free on every target, and 32-bit ARM has no 64-bit atomics (libatomic would take a lock
    // of its own process). It wraps after 2^31 writes, long after any reader has looked again.
    using Count = std::uint32_t;
    static_assert(__atomic_always_lock_free(sizeof(Count), 0), "the generation is lock-free");
    static constexpr off_t kSize = 4096;
    Count* p_ = nullptr;
};

// The statements that open and close a write transaction.
struct Transactions {
    sqlite3* db = nullptr;
    Generation* generation = nullptr;
    Statement begin, commit, rollback;
};

// A write transaction, taken at once (BEGIN IMMEDIATE) so that it never has to upgrade a read
// and fail half-way; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(Transactions& t) : t_(t) {
        rc_ = Run(t.begin).Step();
        open_ = rc_ == SQLITE_DONE;
        if (open_) t_.generation->BeginWrite();
    }
    ~WriteTransaction() {
        if (!began()) return;
        if (open_ && !sqlite3_get_autocommit(t_.db)) Run(t_.rollback).Step();
        t_.generation->EndWrite();
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool open() const { return open_; }
    int rc() const { return rc_; }
    int Commit() {
        rc_ = Run(t_.commit).Step();
        if (rc_ == SQLITE_DONE) {
            open_ = false;
            committed_ = true;
        }
        return rc_;
    }

private:
    bool began() const { return open_ || committed_; }

    Transactions& t_;
    int rc_ = SQLITE_OK;
    bool open_ = false;
    bool committed_ = false;
};

std::atomic<std::uint32_t> g_sessions{0};  // 32 bits: lock-free on 32-bit ARM too

}  // namespace

struct RegistryStore::Impl {
    // A value as this process last read it, or why it could not be read.
    struct Known {
        LONG status = ERROR_SUCCESS;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };

    std::string file;
    std::uint64_t session = ++g_sessions;
    std::mutex mu;
    Connection db;  // first in, last out: statements are finalized before it closes
    Generation generation;

    Transactions txn;
    Statement key_exists, key_path, key_parent, find_key, find_key_under, insert_key, touch_key;
    Statement has_children, delete_key, delete_key_values, child_at;
    Statement get_value, upsert_value, delete_value, value_at;
    Statement bump_counter;

    // The folded path of keys met so far. A key's path never changes and its id is never
    // reused, so an entry can go stale only by its key being deleted, which the queries see.
    std::unordered_map<RegKeyId, std::string> paths;
    // What this process has read, good while the generation stands at `known_at`: keys opened
    // (by base id and folded path) and values (by key id and folded name).
    std::uint64_t known_at = 1;
    std::unordered_map<std::string, RegKeyId> opened;
    std::unordered_map<std::string, Known> values;
    // Scratch space, reused from call to call.
    std::vector<std::u16string_view> names;
    std::string path, fold, known_key;
    Known read;

    explicit Impl(std::string f);
    void Prepare(Statement& s, const char* sql);

    LONG KeyExists(RegKeyId key);
    LONG PathOf(RegKeyId key, std::string* out);
    void Remember(RegKeyId key, const std::string& p);
    bool Trusted();
    void KnownKey(RegKeyId id, const std::string& tail);
    LONG Find(RegKeyId base, std::size_t base_length, RegKeyId* key);
    const Known& Read(RegKeyId key);
};

RegistryStore::Impl::Impl(std::string f) : file(std::move(f)) {
    if (!Exists(file)) {
        // A log without its store means the store was taken away: starting afresh would lose
        // what the log holds.
        if (Exists(file + "-wal"))
            throw DeviceError("the registry " + file + " is missing but its log " + file +
                              "-wal is there; move the log away to start afresh");
        Create(file);
    }
    Verify(file);
    db.Open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    Exec(db, file, "PRAGMA synchronous = FULL");

    generation.Open(file + "-gen");
    txn.db = db.get();
    txn.generation = &generation;
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
    Prepare(child_at, "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY path LIMIT 1 OFFSET ?2");
    Prepare(get_value, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    Prepare(upsert_value,
            "INSERT INTO vals (key, fold, name, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT (key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    Prepare(delete_value, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
    Prepare(value_at, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
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

// Whether what this process knows still holds; forgets it all once another write has happened.
bool RegistryStore::Impl::Trusted() {
    std::uint64_t now = generation.Now();
    if (now & 1) return false;
    if (now != known_at || opened.size() + values.size() > 4096) {
        opened.clear();
        values.clear();
        known_at = now;
    }
    return true;
}

void RegistryStore::Impl::KnownKey(RegKeyId id, const std::string& tail) {
    known_key.assign(reinterpret_cast<const char*>(&id), sizeof id);
    known_key += tail;
}

// Finds the key at `path` (whose first base_length bytes are the path of `base`).
LONG RegistryStore::Impl::Find(RegKeyId base, std::size_t base_length, RegKeyId* key) {
    // Trust is decided before the file is read: a write landing in between moves the generation.
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

RegistryStore::RegistryStore(const std::string& folder) : impl_(std::make_unique<Impl>(folder + "/registry.db")) {}

RegistryStore::~RegistryStore() = default;

const std::string& RegistryStore::file() const { return impl_->file; }

std::uint64_t RegistryStore::session() const { return impl_->session; }

RegKeyId RegistryStore::Root(HKEY root) {
    // The roots are negative 32-bit values; like Win32, look at the low 32 bits only.
    auto v = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(root));
    for (const auto& r : kRoots)
        if (r.hkey == v) return r.id;
    return 0;
}

LONG RegistryStore::OpenKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
    if (LONG r = Split(subkey, &s.names)) return r;
    if (LONG r = s.PathOf(base, &s.path)) return r;
    std::size_t base_length = s.path.size();
    for (auto name : s.names)
        AppendComponent(&s.path, name);
    return s.Find(base, base_length, key);
}

LONG RegistryStore::CreateKey(RegKeyId base, std::u16string_view subkey, RegKeyId* key, bool* created) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
    if (LONG r = Split(subkey, &s.names)) return r;
    if (LONG r = s.PathOf(base, &s.path)) return r;
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
    std::lock_guard<std::mutex> lock(s.mu);
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
    std::lock_guard<std::mutex> lock(s.mu);
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
    std::lock_guard<std::mutex> lock(s.mu);
    s.fold.clear();
    AppendFolded(&s.fold, name);
    const Impl::Known& known = s.Read(key);
    if (known.status == ERROR_SUCCESS) {
        value->type = known.type;
        value->data.assign(known.data.begin(), known.data.end());
    }
    return known.status;
}

LONG RegistryStore::SetValue(RegKeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
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
    std::lock_guard<std::mutex> lock(s.mu);
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
    std::lock_guard<std::mutex> lock(s.mu);
    {
        Run q(s.value_at);
        int rc = q.Int(1, key).Int(2, index).Step();
        if (rc == SQLITE_ROW) {
            value->name = FromExact(q.Bytes(0), q.Size(0));
            value->type = static_cast<DWORD>(q.Int(1));
            auto* p = static_cast<const BYTE*>(q.Bytes(2));
            value->data.assign(p, p + q.Size(2));
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return Failed(rc, false);
    }
    LONG r = s.KeyExists(key);
    return r == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : r;
}

std::uint32_t RegistryStore::NextCounter(const char* name, std::uint32_t first) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
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
