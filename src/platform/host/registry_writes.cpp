// Writing values, and the resident loop's commits: one transaction a turn, and values kept in
// order while another process holds the store.
#include <cstring>

#include "platform/host/registry_store_impl.h"

namespace host {

WriteScope::WriteScope(RegistryStore::Impl& s) : s_(s) {
    s.EndWalk();
    s.EndRead();
    nested_ = s.writing;
    rc_ = Run(nested_ ? s.savepoint : s.begin).Step();
    open_ = rc_ == SQLITE_DONE;
    if (open_) s.writing = true;
}

WriteScope::~WriteScope() {
    if (!open_) return;
    if (nested_) {
        Run(s_.rollback_to).Step();
        Run(s_.release).Step();
    } else {
        Run(s_.rollback).Step();
        s_.writing = false;
    }
}

int WriteScope::Done() {
    open_ = false;
    if (nested_) return Run(s_.release).Step();
    if (s_.resident) return SQLITE_DONE;
    return s_.CommitOpen();
}

int RegistryStore::Impl::CommitOpen() {
    EndRead();
    if (!writing) return SQLITE_DONE;
    int rc = Run(commit).Step();
    if (rc != SQLITE_DONE && !sqlite3_get_autocommit(db.get())) Run(rollback).Step();
    writing = false;
    if (rc == SQLITE_DONE) committed = true;
    return rc;
}

// One value written or deleted in the open transaction: ERROR_KEY_DELETED when its key has gone,
// ERROR_FILE_NOT_FOUND when there is no such value to delete.
LONG RegistryStore::Impl::Make(const Held& h) {
    {
        Run touch(touch_key);
        if (int rc = touch.Int(1, h.key).Int(2, FileTimeNow()).Step(); rc != SQLITE_DONE) return Failed(rc, true);
        if (sqlite3_changes(db.get()) == 0) return ERROR_KEY_DELETED;
    }
    if (h.erase) {
        Run d(delete_value);
        if (int rc = d.Int(1, h.key).Blob(2, h.fold).Step(); rc != SQLITE_DONE) return Failed(rc, true);
        // Another process may have deleted it in the meantime.
        return sqlite3_changes(db.get()) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    }
    Run up(upsert_value);
    int rc = up.Int(1, h.key)
                 .Blob(2, h.fold)
                 .Blob(3, Exact(h.name))
                 .Int(4, h.type)
                 .Blob(5, h.data.data(), h.data.size())
                 .Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Failed(rc, true);
}

// Makes the values kept while the store was busy, in order; one whose key or value went
// meanwhile is passed over.
LONG RegistryStore::Impl::FlushHeld() {
    if (held.empty()) return ERROR_SUCCESS;
    WriteScope w(*this);
    if (!w.open()) return Failed(w.rc(), true);
    for (const Held& h : held) {
        LONG r = Make(h);
        if (r != ERROR_SUCCESS && r != ERROR_KEY_DELETED && r != ERROR_FILE_NOT_FOUND) return r;
    }
    if (int rc = w.Done(); rc != SQLITE_DONE) return Failed(rc, true);
    held.clear();
    if (held_observer) held_observer(0, {});
    return ERROR_SUCCESS;
}

LONG RegistryStore::Impl::Write(Held h) {
    LONG r = FlushHeld();
    if (r == ERROR_SUCCESS) {
        WriteScope w(*this);
        if (!w.open()) {
            r = Failed(w.rc(), true);
        } else {
            if (LONG e = Make(h)) return e;
            if (int rc = w.Done(); rc != SQLITE_DONE) return Failed(rc, true);
            if (resident)
                last_values[{h.key, h.fold}] = h.erase ? Known{ERROR_FILE_NOT_FOUND, REG_NONE, {}}
                                                       : Known{ERROR_SUCCESS, h.type, std::move(h.data)};
            return ERROR_SUCCESS;
        }
    }
    if (r != ERROR_BUSY || !resident) return r;
    // The loop is never held by another process: the write waits, in order, for a later commit.
    held.push_back(std::move(h));
    if (held.size() == 1 && held_observer) held_observer(1, regdb::WriteLockHolder(folder));
    return ERROR_SUCCESS;
}

LONG RegistryStore::Impl::Put(RegKeyId key, std::u16string_view name, const std::string& fold, DWORD type,
                              const BYTE* data, std::size_t size) {
    // Most writes (the monitor's every 1.5 s) store what is already there: find that out
    // without taking the write lock, and leave the disk alone.
    const Known known = Read(key, fold);
    if (known.status == ERROR_SUCCESS && known.type == type && known.data.size() == size &&
        (size == 0 || std::memcmp(known.data.data(), data, size) == 0))
        return ERROR_SUCCESS;
    if (known.status != ERROR_SUCCESS && known.status != ERROR_FILE_NOT_FOUND && known.status != ERROR_BUSY)
        return known.status;
    return Write(Held{key, std::u16string(name), fold, false, type, {data, data + size}});
}

LONG RegistryStore::Impl::Erase(RegKeyId key, const std::string& fold) {
    const Known known = Read(key, fold);
    if (known.status != ERROR_SUCCESS && known.status != ERROR_BUSY) return known.status;
    return Write(Held{key, {}, fold, true, REG_NONE, {}});
}

LONG RegistryStore::SetValue(RegKeyId key, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    if (LONG r = CheckValueName(name)) return r;
    Impl& s = *impl_;
    Impl::Access access(s);
    std::string fold;
    AppendFolded(&fold, name);
    return s.Put(key, name, fold, type, data, size);
}

LONG RegistryStore::DeleteValue(RegKeyId key, std::u16string_view name) {
    Impl& s = *impl_;
    Impl::Access access(s);
    std::string fold;
    AppendFolded(&fold, name);
    return s.Erase(key, fold);
}

std::uint32_t RegistryStore::NextCounter(const char* name, std::uint32_t first) {
    Impl& s = *impl_;
    Impl::Access access(s);
    // A window cannot be made without its handle: worth the wait a command would make.
    if (s.resident) sqlite3_busy_timeout(s.db.get(), kCommandWaitMs);
    WriteScope w(s);
    if (s.resident) sqlite3_busy_timeout(s.db.get(), kLoopWaitMs);
    if (!w.open()) s.db.Throw(s.file, "cannot be written");
    std::uint32_t value = 0;
    {
        Run q(s.bump_counter);
        if (q.Text(1, name).Int(2, first).Step() != SQLITE_ROW) s.db.Throw(s.file, "cannot be written");
        value = static_cast<std::uint32_t>(q.Int(0));
        if (q.Step() != SQLITE_DONE) s.db.Throw(s.file, "cannot be written");
    }
    if (w.Done() != SQLITE_DONE) s.db.Throw(s.file, "cannot be written");
    return value;
}

void RegistryStore::CommitAtWaits() {
    Impl& s = *impl_;
    Impl::Access access(s);
    s.resident = true;
    sqlite3_busy_timeout(s.db.get(), kLoopWaitMs);
}

LONG RegistryStore::Commit() {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mu);
    s.EndWalk();
    if (!s.resident || (!s.reading && !s.writing && s.held.empty())) return ERROR_SUCCESS;
    LONG r = s.FlushHeld();
    int rc = s.CommitOpen();
    if (rc != SQLITE_DONE) return Failed(rc, true);
    return r;
}

void RegistryStore::ObserveHeldWrites(HeldWrites observer) {
    Impl& s = *impl_;
    Impl::Access access(s);
    s.held_observer = std::move(observer);
}

}  // namespace host
