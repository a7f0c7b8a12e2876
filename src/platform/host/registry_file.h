// The registry's file: SQLite connections, statements and write transactions, and opening a
// device's store, creating, checking and recovering it as needed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/host/device_folder.h"
#include "platform/host/device_error.h"
#include "platform/host/registry_store.h"

namespace host::regdb {

// Now, in 100 ns units since 1601, as the registry records when a key was written.
std::int64_t FileTimeNow();

// The Win32 error for an SQLite result code: ERROR_BUSY while another process holds the lock,
// ERROR_DISK_FULL, ERROR_BADDB for a damaged file, else ERROR_CANTREAD / ERROR_CANTWRITE.
LONG Failed(int rc, bool writing);

// How long a call waits for another process's lock before it says the store is busy: a few
// milliseconds inside the system's loop, which must never be held; longer for a command.
constexpr int kLoopWaitMs = 5;
constexpr int kCommandWaitMs = 2000;

// The process holding the registry's write lock ("process 1234"), or empty when none does.
std::string WriteLockHolder(const DeviceFolder& folder);

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
        sqlite3_busy_timeout(db_, kCommandWaitMs);
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

// Opens the device's store into `db`, creating it when the device is new and refusing a file that
// is not a sound handheld registry. What a killed writer left is SQLite's to roll back; nothing
// here touches a journal, a log or the log's index. Throws DeviceError, naming the file and why.
void OpenStore(const DeviceFolder& folder, const std::string& file, Connection& db);

// Reads every page of the store: empty when all is sound, otherwise what is wrong, a line each.
std::string CheckWhole(Connection& db);

}  // namespace host::regdb
