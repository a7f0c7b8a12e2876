#include "platform/host/registry_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

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

bool Exists(const DeviceFolder& folder, const char* name) {
    struct stat st {};
    return fstatat(folder.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Files SQLite keeps beside a store.
constexpr const char* kSidecars[] = {"-journal", "-wal", "-shm"};

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

// Whether the first page of every table and index is a table or index page: a look at a few
// pages, where a full check reads them all.
bool RootPagesSound(Connection& c, long long page_size) {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(c.get(), "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods)
        return false;
    Statement roots;
    if (!roots.Prepare(c.get(), "SELECT rootpage FROM sqlite_schema WHERE rootpage > 0")) return false;
    Run r(roots);
    int rc;
    while ((rc = r.Step()) == SQLITE_ROW) {
        const long long page = r.Int(0);
        unsigned char kind = 0;
        // Page 1 holds the file's header before its own.
        if (f->pMethods->xRead(f, &kind, 1, (page - 1) * page_size + (page == 1 ? 100 : 0)) != SQLITE_OK)
            return false;
        if (kind != 0x02 && kind != 0x05 && kind != 0x0A && kind != 0x0D) return false;
    }
    return rc == SQLITE_DONE;
}

// Checks, through a read-only connection that cannot write the file even on close, that the
// file is a handheld registry of this layout, whole, with its roots. Reading every page
// (`full`) is for after an unclean end; a damaged page met later is reported by the call that
// meets it, and `handheld check` reads them all on demand.
void Verify(const DeviceFolder& folder, const std::string& file, bool full) {
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
    // A file cut short or run on is not the size its header gives.
    struct stat st {};
    const long long pages = std::atoll(TextOf(c, "PRAGMA page_count", &rc).c_str());
    const long long page_size = std::atoll(TextOf(c, "PRAGMA page_size", &rc).c_str());
    if (fstatat(folder.fd(), "registry.db", &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_size != pages * page_size)
        throw DeviceError("the registry " + file + " is damaged: it is not the size its header gives");
    if (!RootPagesSound(c, page_size))
        throw DeviceError("the registry " + file + " is damaged: a table's first page is not one");
    if (full) {
        std::string check = TextOf(c, "PRAGMA quick_check", &rc);
        if (rc != SQLITE_ROW) c.Throw(file, "cannot be checked");
        if (check != "ok") throw DeviceError("the registry " + file + " is damaged: " + check);
    }
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
        default:
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

int WaitWhileBusy(void*, int attempt) {
    if (attempt >= 60000) return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(attempt < 20 ? 50 : 1000));
    return 1;
}

void OpenStore(const DeviceFolder& folder, const std::string& file, Connection& db) {
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
        Verify(folder, file, journal);
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
}

std::string CheckWhole(Connection& db) {
    int rc = 0;
    Statement s;
    if (!s.Prepare(db.get(), "PRAGMA integrity_check")) return db.Message();
    std::string out;
    Run r(s);
    while ((rc = r.Step()) == SQLITE_ROW) {
        const unsigned char* t = sqlite3_column_text(s.get(), 0);
        out += t ? reinterpret_cast<const char*>(t) : "";
        out += "\n";
    }
    if (rc != SQLITE_DONE) out += db.Message() + "\n";
    return out == "ok\n" ? "" : out;
}

}  // namespace host::regdb
