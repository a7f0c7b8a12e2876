// Batches of changes made in one transaction: an import, a tree deleted, a key's values cleared.
#include "platform/host/registry_store_impl.h"

namespace host {

struct RegistryStore::ChangeSet::State {
    explicit State(Impl& s) : store(s), access(s), transaction(s) { batch.now = FileTimeNow(); }
    Impl& store;
    Impl::Access access;
    WriteScope transaction;  // rolled back unless done
    Impl::Batch batch;
};

RegistryStore::ChangeSet::ChangeSet(RegistryStore& store) : state_(std::make_unique<State>(*store.impl_)) {}

RegistryStore::ChangeSet::~ChangeSet() = default;

LONG RegistryStore::ChangeSet::status() const {
    return state_->transaction.open() ? ERROR_SUCCESS : Failed(state_->transaction.rc(), true);
}

LONG RegistryStore::ChangeSet::Apply(const RegChange& change) { return state_->store.Change(state_->batch, change); }

LONG RegistryStore::ChangeSet::Commit() {
    int rc = state_->transaction.Done();
    if (rc != SQLITE_DONE) return Failed(rc, true);
    state_->store.last_keys.clear();
    state_->store.last_values.clear();
    return ERROR_SUCCESS;
}

LONG RegistryStore::Apply(const std::vector<RegChange>& changes, std::size_t* failed) {
    *failed = changes.size();
    ChangeSet set(*this);
    if (LONG r = set.status()) return r;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (LONG r = set.Apply(changes[i])) {
            *failed = i;
            return r;  // rolled back: none of it happened
        }
    }
    return set.Commit();
}

// A key made by a batch that is rolled back never existed, and its id is handed out again.
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
    std::vector<std::u16string_view> names;
    std::string path, fold;
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

}  // namespace host
