#include "platform/host/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/host/device_folder.h"
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
CREATE INDEX vals_by_key ON vals (key, id);
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

// Why a name cannot be given to a new key; ERROR_SUCCESS when it can.
LONG CheckKeyName(std::u16string_view name) {
    if (name.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    for (char16_t c : name)
        if (c < 0x20) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

LONG CheckValueName(std::u16string_view name) {
    if (name.size() > kMaxValueName || name.find(u'\0') != std::u16string_view::npos) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// How many names a folded path holds below its root.
std::size_t Depth(const std::string& path) {
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < path.size(); i += 2)
        n += path[i] == '\0' && path[i + 1] == '\\';
    return n;
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

bool Exists(const DeviceFolder& folder, const char* name) {
    struct stat st {};
    return fstatat(folder.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Files SQLite keeps beside a store.
constexpr const char* kSidecars[] = {"-journal", "-wal", "-shm"};

class Connection {
public:
    Connection() = default;
    ~Connection() { sqlite3_close_v2(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens without ever creating; throws DeviceError on failure.
    void Open(const std::string& file, int flags) {
        int rc = sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
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

// Builds a new device's store beside the final name and links it into place, so that the
// store appears whole or not at all, and an existing one is never replaced.
void Create(const DeviceFolder& folder, const std::string& file) {
    const std::string temp_name = "registry.db.new-" + std::to_string(getpid());
    const std::string temp = folder.PathOf(temp_name);
    unlinkat(folder.fd(), temp_name.c_str(), 0);
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
        Exec(c, temp, "COMMIT");
    } catch (...) {
        unlinkat(folder.fd(), temp_name.c_str(), 0);
        throw;
    }
    // The registry is its owner's alone, whoever may look into the folder.
    int fd = openat(folder.fd(), temp_name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (fchmod(fd, 0600) == 0) fsync(fd);
        close(fd);
    }
    // Another process booting the same new device may have linked its own store first: use it.
    int linked = linkat(folder.fd(), temp_name.c_str(), folder.fd(), "registry.db", 0);
    int error = errno;
    unlinkat(folder.fd(), temp_name.c_str(), 0);
    if (linked != 0 && error != EEXIST)
        throw DeviceError("the registry " + file + " cannot be created: " + std::strerror(error));
    fsync(folder.fd());
}

// What a process killed while creating a store left: registry.db.new-PID and SQLite's files
// beside it, for a PID that is gone.
void RemoveLeftovers(const DeviceFolder& folder) {
    int fd = dup(folder.fd());
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) close(fd);
        return;
    }
    constexpr char kPrefix[] = "registry.db.new-";
    std::vector<std::string> gone;
    while (dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) != 0) continue;
        char* end = nullptr;
        long pid = std::strtol(e->d_name + sizeof kPrefix - 1, &end, 10);
        bool ours = pid > 0 && (*end == 0 || std::string(end) == "-journal" || std::string(end) == "-wal" ||
                                std::string(end) == "-shm");
        if (ours && pid != getpid() && !ProcessAlive(static_cast<pid_t>(pid))) gone.push_back(e->d_name);
    }
    closedir(dir);
    for (const std::string& name : gone)
        unlinkat(folder.fd(), name.c_str(), 0);
}

// Whether the first bytes of the file say it is a handheld registry: only then is a journal
// left beside it rolled back into it.
bool HandheldHeader(const DeviceFolder& folder) {
    unsigned char header[100] = {};
    int fd = openat(folder.fd(), "registry.db", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool whole = pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    close(fd);
    std::uint32_t id = static_cast<std::uint32_t>(header[68] << 24 | header[69] << 16 | header[70] << 8 | header[71]);
    return whole && std::memcmp(header, "SQLite format 3", 16) == 0 && id == static_cast<std::uint32_t>(kApplicationId);
}

// The statements that open and close a write transaction.
struct Transactions {
    sqlite3* db = nullptr;
    Statement begin, commit, rollback;
    sqlite3_stmt* walk = nullptr;  // a read left open between calls, ended before any write
    std::uint64_t writes = 0;      // write transactions begun by this process
    bool writing = false;          // one of them is open now
};

// A write transaction, taken at once (BEGIN IMMEDIATE) so that it never has to upgrade a read
// and fail half-way; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(Transactions& t) : t_(t) {
        ++t.writes;
        t.writing = true;
        if (t.walk) sqlite3_reset(t.walk);
        rc_ = Run(t.begin).Step();
        open_ = rc_ == SQLITE_DONE;
    }
    ~WriteTransaction() {
        if (open_ && !sqlite3_get_autocommit(t_.db)) Run(t_.rollback).Step();
        ++t_.writes;
        t_.writing = false;
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool open() const { return open_; }
    int rc() const { return rc_; }
    int Commit() {
        rc_ = Run(t_.commit).Step();
        if (rc_ == SQLITE_DONE) open_ = false;
        return rc_;
    }

private:
    Transactions& t_;
    int rc_ = SQLITE_OK;
    bool open_ = false;
};

std::atomic<std::uint32_t> g_sessions{0};  // 32 bits: lock-free on 32-bit ARM too

}  // namespace

struct RegistryStore::Impl {
    // A value as read, or why it could not be read.
    struct Known {
        LONG status = ERROR_SUCCESS;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };

    std::string file;
    std::uint64_t session = ++g_sessions;
    std::mutex mu;
    Connection db;  // first in, last out: statements are finalized before it closes

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
    std::unordered_map<std::string, RegKeyId> opened;
    std::unordered_map<std::string, Known> values;
    // Scratch space, reused from call to call.
    std::vector<std::u16string_view> names;
    std::string path, fold, known_key;
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
    LONG Find(RegKeyId base, std::size_t base_length, RegKeyId* key);
    const Known& Read(RegKeyId key);

    LONG Change(Batch& b, const RegChange& c);
    LONG Lookup(Batch& b, const std::string& key_path, RegKeyId* key);
    LONG Touch(Batch& b, RegKeyId key);
    LONG DeleteSubtree(Batch& b, RegKeyId key, const std::string& key_path);
};

RegistryStore::Impl::Impl(const DeviceFolder& folder) : file(folder.PathOf("registry.db")) {
    RemoveLeftovers(folder);
    // Checked before SQLite opens anything, so that a file refused here gets nothing beside it.
    bool exists = folder.CheckFile("registry.db");
    std::vector<std::string> sidecars;
    for (const char* suffix : kSidecars)
        if (folder.CheckFile(std::string("registry.db") + suffix)) sidecars.push_back(suffix);
    if (!exists) {
        // A journal or log without its store means the store was taken away: starting afresh
        // would lose what it holds, or roll the old store's pages into the new one.
        for (const std::string& suffix : sidecars)
            if (suffix != "-shm")
                throw DeviceError("the registry " + file + " is missing but its " +
                                  (suffix == "-wal" ? "log " : "journal ") + file + suffix +
                                  " is there; move it away to start afresh");
        Create(folder, file);
    }
    try {
        // A writer killed in the middle of a change left its journal: roll it back first.
        bool journal = std::find(sidecars.begin(), sidecars.end(), "-journal") != sidecars.end();
        if (journal && HandheldHeader(folder)) {
            Connection recover;
            recover.Open(file, SQLITE_OPEN_READWRITE);
            int rc = 0;
            TextOf(recover, "PRAGMA application_id", &rc);
            if (rc != SQLITE_ROW) recover.Throw(file, "cannot be recovered from its journal");
        }
        Verify(file);
    } catch (const DeviceError&) {
        // Whatever SQLite made beside a file it refused goes again.
        for (const char* suffix : kSidecars)
            if (std::find(sidecars.begin(), sidecars.end(), suffix) == sidecars.end())
                unlinkat(folder.fd(), (std::string("registry.db") + suffix).c_str(), 0);
        throw;
    }
    db.Open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (sqlite3_db_readonly(db.get(), "main") == 1)
        throw DeviceError("the registry " + file + " is read-only; Pelorn needs to write it");
    // A store from before keeps a log and shared memory beside it; shared memory that another
    // process can cut short would kill this one, so the store moves to a rollback journal as soon
    // as nobody else has it open.
    int rc = 0;
    if (TextOf(db, "PRAGMA journal_mode", &rc) == "wal") {
        sqlite3_busy_handler(db.get(), nullptr, nullptr);
        sqlite3_exec(db.get(), "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
        sqlite3_busy_handler(db.get(), WaitWhileBusy, nullptr);
    }
    Exec(db, file, "PRAGMA synchronous = FULL; PRAGMA mmap_size = 0");
    // A writer killed before its journal said anything leaves an empty one that SQLite never
    // removes. With the write lock held, no journal there is anybody's.
    if (Exists(folder, "registry.db-journal") &&
        sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        unlinkat(folder.fd(), "registry.db-journal", 0);
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }

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
    // Read through SQLite's own handle of the file: no second open, and a file cut short by
    // somebody else is a failed read, not a signal.
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods)
        return std::nullopt;
    unsigned char counter[4];
    if (f->pMethods->xRead(f, counter, sizeof counter, 24) != SQLITE_OK) return std::nullopt;
    std::uint64_t c = std::uint64_t{counter[0]} << 24 | counter[1] << 16 | counter[2] << 8 | counter[3];
    return c << 32 | (txn.writes & 0xFFFFFFFFu);
}

bool RegistryStore::Impl::Trusted() {
    std::optional<std::uint64_t> now = Stamp();
    if (!now) return false;
    if (*now != known_at || opened.size() + values.size() > 4096) {
        opened.clear();
        values.clear();
        known_at = *now;
    }
    return true;
}

void RegistryStore::Impl::KnownKey(RegKeyId id, const std::string& tail) {
    known_key.assign(reinterpret_cast<const char*>(&id), sizeof id);
    known_key += tail;
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
    Impl::Access access(s);
    if (LONG r = Split(subkey, &s.names)) return r;
    if (LONG r = s.PathOf(base, &s.path)) return r;
    std::size_t base_length = s.path.size();
    for (auto name : s.names)
        AppendComponent(&s.path, name);
    return s.Find(base, base_length, key);
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

LONG RegistryStore::Apply(const std::vector<RegChange>& changes, std::size_t* failed) {
    Impl& s = *impl_;
    Impl::Access access(s);
    *failed = changes.size();
    WriteTransaction t(s.txn);
    if (!t.open()) return Failed(t.rc(), true);
    Impl::Batch batch;
    batch.now = FileTimeNow();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (LONG r = s.Change(batch, changes[i])) {
            *failed = i;
            return r;  // rolled back: none of it happened
        }
    }
    if (int rc = t.Commit(); rc != SQLITE_DONE) return Failed(rc, true);
    return ERROR_SUCCESS;
}

// A batch finds and makes its keys without the process's caches: a key made by a batch that is
// rolled back never existed, and its id is handed out again.
LONG RegistryStore::Impl::Lookup(Batch& b, const std::string& key_path, RegKeyId* key) {
    if (auto it = b.keys.find(key_path); it != b.keys.end()) {
        *key = it->second;
        return ERROR_SUCCESS;
    }
    Run q(find_key);
    int rc = q.Blob(1, key_path).Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return Failed(rc, false);
    *key = q.Int(0);
    b.keys.emplace(key_path, *key);
    return ERROR_SUCCESS;
}

LONG RegistryStore::Impl::Touch(Batch& b, RegKeyId key) {
    if (!b.touched.insert(key).second) return ERROR_SUCCESS;
    Run touch(touch_key);
    int rc = touch.Int(1, key).Int(2, b.now).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Failed(rc, true);
}

LONG RegistryStore::Impl::DeleteSubtree(Batch& b, RegKeyId key, const std::string& key_path) {
    if (key >= 1 && key <= kLastRoot) return ERROR_ACCESS_DENIED;
    RegKeyId parent = 0;
    {
        Run q(key_parent);
        int rc = q.Int(1, key).Step();
        if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Failed(rc, false);
        parent = q.Int(0);
    }
    std::string below = key_path + std::string("\0\\", 2), past = key_path + std::string("\0]", 2);
    for (Statement* st : {&delete_subtree_values, &delete_subtree}) {
        Run d(*st);
        if (int rc = d.Blob(1, below).Blob(2, past).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    for (Statement* st : {&delete_key_values, &delete_key}) {
        Run d(*st);
        if (int rc = d.Int(1, key).Step(); rc != SQLITE_DONE) return Failed(rc, true);
    }
    b.keys.clear();
    return Touch(b, parent);
}

LONG RegistryStore::Impl::Change(Batch& b, const RegChange& c) {
    using Kind = RegChange::Kind;
    if (LONG r = Split(c.path, &names)) return r;
    if (LONG r = PathOf(c.base, &path)) return r;
    std::size_t depth = Depth(path) + names.size();
    std::size_t base_length = path.size();
    for (auto name : names)
        AppendComponent(&path, name);

    if (c.kind == Kind::kCreateKey) {
        for (auto name : names)
            if (LONG r = CheckKeyName(name)) return r;
        if (depth > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
        if (c.base > kLastRoot)
            if (LONG r = KeyExists(c.base)) return r;
        std::string prefix = path.substr(0, base_length);
        RegKeyId parent = c.base;
        for (auto name : names) {
            AppendComponent(&prefix, name);
            RegKeyId id = 0;
            LONG r = Lookup(b, prefix, &id);
            if (r == ERROR_FILE_NOT_FOUND) {
                if (LONG t = Touch(b, parent)) return t;
                Run insert(insert_key);
                int rc = insert.Int(1, parent).Blob(2, prefix).Blob(3, Exact(name)).Int(4, b.now).Step();
                if (rc != SQLITE_DONE) return Failed(rc, true);
                id = sqlite3_last_insert_rowid(db.get());
                b.keys.emplace(prefix, id);
                b.touched.insert(id);
            } else if (r != ERROR_SUCCESS) {
                return r;
            }
            parent = id;
        }
        return ERROR_SUCCESS;
    }

    if (c.kind == Kind::kSetValue || c.kind == Kind::kDeleteValue)
        if (LONG r = CheckValueName(c.name)) return r;
    RegKeyId key = 0;
    if (LONG r = Lookup(b, path, &key)) return r == ERROR_FILE_NOT_FOUND && c.if_present ? ERROR_SUCCESS : r;
    switch (c.kind) {
        case Kind::kDeleteTree:
            return DeleteSubtree(b, key, path);
        case Kind::kSetValue: {
            if (LONG r = Touch(b, key)) return r;
            fold.clear();
            AppendFolded(&fold, c.name);
            Run up(upsert_value);
            int rc = up.Int(1, key)
                         .Blob(2, fold)
                         .Blob(3, Exact(c.name))
                         .Int(4, c.type)
                         .Blob(5, c.data.data(), c.data.size())
                         .Step();
            return rc == SQLITE_DONE ? ERROR_SUCCESS : Failed(rc, true);
        }
        case Kind::kDeleteValue:
        case Kind::kDeleteValues: {
            bool one = c.kind == Kind::kDeleteValue;
            fold.clear();
            AppendFolded(&fold, c.name);
            Run d(one ? delete_value : delete_key_values);
            d.Int(1, key);
            if (one) d.Blob(2, fold);
            if (int rc = d.Step(); rc != SQLITE_DONE) return Failed(rc, true);
            if (sqlite3_changes(db.get()) == 0) return one && !c.if_present ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
            return Touch(b, key);
        }
        case Kind::kCreateKey:
            break;
    }
    return ERROR_INVALID_PARAMETER;
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
