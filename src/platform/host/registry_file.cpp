#include "platform/host/registry_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/host/registry_faults.h"
#include "platform/host/registry_names.h"

namespace host::regdb {
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

// Files SQLite keeps beside a store.
constexpr const char* kSidecars[] = {"-journal", "-wal", "-shm"};

bool Exists(const DeviceFolder& folder, const std::string& name) {
    struct stat st {};
    return fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

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

std::uint32_t Be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Looks at the file's header before SQLite opens it, so that a file that is not a handheld
// registry gets nothing made beside it. While nobody has the store open (no log beside it), the
// file must also be the size its header gives: a file cut short loses its last pages unseen.
void CheckHeader(const DeviceFolder& folder, const std::string& file) {
    unsigned char h[100] = {};
    int fd = openat(folder.fd(), "registry.db", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw DeviceError("the registry " + file + " cannot be opened: " + std::strerror(errno));
    struct stat st {};
    const bool whole = pread(fd, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) && fstat(fd, &st) == 0;
    close(fd);
    if (!whole || std::memcmp(h, "SQLite format 3", 16) != 0)
        throw DeviceError("the registry " + file + " cannot be read as a database: file is not a database");
    const std::uint32_t id = Be32(h + 68);
    if (id != static_cast<std::uint32_t>(kApplicationId))
        throw DeviceError("the file " + file + " is not a handheld registry (application id " +
                          std::to_string(static_cast<std::int32_t>(id)) + ")");
    const long long page_size = h[16] == 0 && h[17] == 1 ? 65536 : (h[16] << 8 | h[17]);
    const bool size_known = Be32(h + 92) == Be32(h + 24) && Be32(h + 28) != 0;
    if (size_known && !Exists(folder, "registry.db-wal") && st.st_size != Be32(h + 28) * page_size)
        throw DeviceError("the registry " + file + " is damaged: it is not the size its header gives");
}

// A failed look at an opened store: busy is not damage.
[[noreturn]] void Refuse(const DeviceFolder& folder, Connection& c, const std::string& file, int rc, const char* what) {
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
        std::string holder = WriteLockHolder(folder);
        throw DeviceError("the registry " + file + " is busy: " +
                          (holder.empty() ? std::string("another process holds it") : holder + " holds it"));
    }
    if ((rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB)
        throw DeviceError("the registry " + file + " is damaged: " + c.Message());
    c.Throw(file, what);
}

// Checks, through the store's own connection, that the file has this layout and its roots, and
// reads the first page of every table and index: a damaged one is refused at once, where any
// other page is reported by the call that meets it (`handheld check` reads them all).
void Verify(const DeviceFolder& folder, const std::string& file, Connection& c) {
    int rc = 0;
    std::string version = TextOf(c, "PRAGMA user_version", &rc);
    if (rc != SQLITE_ROW) Refuse(folder, c, file, rc, "cannot be read as a database");
    if (version != std::to_string(kSchemaVersion))
        throw DeviceError("the registry " + file + " has layout " + version + ", this handheld reads layout " +
                          std::to_string(kSchemaVersion));
    static const char* const kFirstPages[] = {
        "SELECT count(*) FROM keys NOT INDEXED WHERE id <= 4 AND parent = 0",
        "SELECT count(*) FROM (SELECT path FROM keys ORDER BY path LIMIT 1)",
        "SELECT count(*) FROM (SELECT parent FROM keys INDEXED BY keys_by_parent ORDER BY parent, path LIMIT 1)",
        "SELECT count(*) FROM (SELECT id FROM vals LIMIT 1)",
        "SELECT count(*) FROM (SELECT key FROM vals ORDER BY key, fold LIMIT 1)",
        "SELECT count(*) FROM (SELECT name FROM counters LIMIT 1)",
    };
    for (const char* sql : kFirstPages) {
        std::string n = TextOf(c, sql, &rc);
        if (rc != SQLITE_ROW) Refuse(folder, c, file, rc, "does not have the layout of a handheld registry");
        if (sql == kFirstPages[0] && n != "4")
            throw DeviceError("the registry " + file + " is damaged: its root keys are missing");
    }
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
        // Nobody sees this file before it is linked into place, and one killed half-way is thrown
        // away: no journal, no syncs until it is whole.
        Exec(c, temp, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN");
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

}  // namespace

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
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_FULL:
            return ERROR_DISK_FULL;
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

std::string WriteLockHolder(const DeviceFolder& folder) {
    // SQLite's write lock is a POSIX record lock: in a store with a log, byte 120 of the log's
    // index; in a store with a rollback journal, its reserved byte.
    struct Place {
        const char* name;
        off_t byte;
    };
    for (Place p : {Place{"registry.db-shm", 120}, Place{"registry.db", 0x40000001}}) {
        int fd = openat(folder.fd(), p.name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = p.byte;
        lock.l_len = 1;
        int r = fcntl(fd, F_GETLK, &lock);
        close(fd);
        if (r == 0 && lock.l_type != F_UNLCK) return "process " + std::to_string(lock.l_pid);
    }
    return {};
}

void OpenStore(const DeviceFolder& folder, const std::string& file, Connection& db) {
    InstallFaults();
    RemoveLeftovers(folder);
    // Checked before SQLite opens anything, so that a file refused here gets nothing beside it.
    bool exists = folder.CheckFile("registry.db");
    for (const char* suffix : kSidecars) {
        if (!folder.CheckFile(std::string("registry.db") + suffix) || exists || std::string(suffix) == "-shm") continue;
        // A journal or log without its store means the store was taken away: starting afresh
        // would lose what it holds, or roll the old store's pages into the new one.
        throw DeviceError("the registry " + file + " is missing but its " +
                          (std::string(suffix) == "-wal" ? "log " : "journal ") + file + suffix +
                          " is there; move it away to start afresh");
    }
    if (!exists) Create(folder, file);
    CheckHeader(folder, file);

    db.Open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (sqlite3_db_readonly(db.get(), "main") == 1)
        throw DeviceError("the registry " + file + " is read-only; Pelorn needs to write it");
    // The first read rolls back a journal that a killed writer left (a store from before the log),
    // or recovers the log's index; either may wait for another process, never fail as damage.
    Verify(folder, file, db);
    int rc = 0;
    // The log: readers never wait for a writer, and a commit is one sync. A store from before
    // moves to it as soon as nobody else has it open.
    if (TextOf(db, "PRAGMA journal_mode", &rc) != "wal") {
        sqlite3_busy_timeout(db.get(), 0);
        sqlite3_exec(db.get(), "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(db.get(), kCommandWaitMs);
    }
    Exec(db, file, "PRAGMA synchronous = FULL; PRAGMA mmap_size = 0");
    // SQLite's checkpoint on closing takes the file's exclusive lock, and a closing process
    // stopped there (Ctrl-Z) would keep every other one from reading. RegistryStore closes with
    // a checkpoint that holds writers only, and none when another process is in the way.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

std::string CheckWhole(Connection& db) {
    int rc = 0;
    Statement s;
    if (!s.Prepare(db.get(), "PRAGMA integrity_check")) return db.Message() + "\n";
    std::string out;
    Run r(s);
    while ((rc = r.Step()) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s.get(), 0);
        out += t ? reinterpret_cast<const char*>(t) : "";
        out += "\n";
    }
    if ((rc & 0xFF) == SQLITE_BUSY) throw DeviceError("the registry is busy: " + db.Message());
    if (rc != SQLITE_DONE) out += db.Message() + "\n";
    return out == "ok\n" ? "" : out;
}

}  // namespace host::regdb
