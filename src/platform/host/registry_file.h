// The registry's file: SQLite connections, statements and write transactions, and opening a
// device's store, creating, checking and recovering it as needed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"

namespace host::regdb {

// Now, in 100 ns units since 1601, as the registry records when a key was written.
std::int64_t FileTimeNow();

// The Win32 error for an SQLite result code.
LONG Failed(int rc, bool writing);

// Another process on the device is inside one short transaction: wait for it rather than
// fail the call. About a minute in all before giving up.
int WaitWhileBusy(void*, int attempt);

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

// Opens the device's store into `db`, creating it when the device is new, rolling back what a
// killed writer left and refusing a file that is not a sound handheld registry. Throws
// DeviceError, naming the file and why.
void OpenStore(const DeviceFolder& folder, const std::string& file, Connection& db);

// Reads every page of the store: empty when all is sound, otherwise what is wrong, a line each.
std::string CheckWhole(Connection& db);

}  // namespace host::regdb
