// A file layer over SQLite's own ("unix") that counts the registry's writes and syncs and
// raises a signal at the one asked for. Programs may be linked statically, so this sits inside
// the store rather than in a preloaded library.
#include "platform/host/registry_faults.h"

#include <signal.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace host::regdb {
namespace {

struct Fault {
    bool on_sync = false;
    int signal = 0;
    long at = 0;
    long seen = 0;
};

Fault g_fault;
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

struct File {
    sqlite3_file base;
    sqlite3_file* real;  // the real layer's file, right after this one
    bool counted;        // a registry file, not a temporary one
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

// True when this call is the one asked for.
bool Due(sqlite3_file* f, bool sync) {
    if (!reinterpret_cast<File*>(f)->counted || sync != g_fault.on_sync) return false;
    return __atomic_add_fetch(&g_fault.seen, 1, __ATOMIC_SEQ_CST) == g_fault.at;
}

int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
    if (!Due(f, false)) return Real(f)->pMethods->xWrite(Real(f), p, n, at);
    // A write cut short: half of it reaches the file.
    Real(f)->pMethods->xWrite(Real(f), p, n / 2, at);
    raise(g_fault.signal);
    return Real(f)->pMethods->xWrite(Real(f), p, n, at);
}

int Sync(sqlite3_file* f, int flags) {
    if (Due(f, true)) raise(g_fault.signal);
    return Real(f)->pMethods->xSync(Real(f), flags);
}

int Close(sqlite3_file* f) {
    int rc = Real(f)->pMethods->xClose(Real(f));
    f->pMethods = nullptr;
    return rc;
}

// The other calls go straight through.
#define PASS(name, params, args) \
    int name params { return Real(f)->pMethods->name args; }
PASS(xRead, (sqlite3_file * f, void* p, int n, sqlite3_int64 at), (Real(f), p, n, at))
PASS(xTruncate, (sqlite3_file * f, sqlite3_int64 size), (Real(f), size))
PASS(xFileSize, (sqlite3_file * f, sqlite3_int64* size), (Real(f), size))
PASS(xLock, (sqlite3_file * f, int level), (Real(f), level))
PASS(xUnlock, (sqlite3_file * f, int level), (Real(f), level))
PASS(xCheckReservedLock, (sqlite3_file * f, int* out), (Real(f), out))
PASS(xFileControl, (sqlite3_file * f, int op, void* arg), (Real(f), op, arg))
PASS(xSectorSize, (sqlite3_file * f), (Real(f)))
PASS(xDeviceCharacteristics, (sqlite3_file * f), (Real(f)))
PASS(xShmMap, (sqlite3_file * f, int page, int size, int extend, void volatile** p), (Real(f), page, size, extend, p))
PASS(xShmLock, (sqlite3_file * f, int offset, int n, int flags), (Real(f), offset, n, flags))
PASS(xShmUnmap, (sqlite3_file * f, int remove), (Real(f), remove))
PASS(xFetch, (sqlite3_file * f, sqlite3_int64 at, int n, void** p), (Real(f), at, n, p))
PASS(xUnfetch, (sqlite3_file * f, sqlite3_int64 at, void* p), (Real(f), at, p))
#undef PASS
void xShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }

int Open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
    File* file = reinterpret_cast<File*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    file->counted = name && std::strstr(name, "registry.db");
    f->pMethods = nullptr;
    int rc = g_real->xOpen(g_real, name, file->real, flags, out_flags);
    if (file->real->pMethods) f->pMethods = &g_methods;
    return rc;
}

bool Parse(const char* text) {
    static const struct {
        const char* name;
        bool on_sync;
        int signal;
    } kKinds[] = {{"kill-at-write=", false, SIGKILL},
                  {"stop-at-write=", false, SIGSTOP},
                  {"kill-at-sync=", true, SIGKILL},
                  {"stop-at-sync=", true, SIGSTOP}};
    for (const auto& k : kKinds) {
        std::size_t n = std::strlen(k.name);
        if (std::strncmp(text, k.name, n) != 0) continue;
        g_fault = Fault{k.on_sync, k.signal, std::atol(text + n), 0};
        return g_fault.at > 0;
    }
    return false;
}

}  // namespace

void InstallFaults() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* text = std::getenv("PELORN_REGISTRY_FAULT");
        if (!text || !Parse(text) || !(g_real = sqlite3_vfs_find(nullptr))) return;
        g_vfs = *g_real;
        g_vfs.zName = "pelorn-faults";
        g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
        g_vfs.xOpen = Open;
        // clang-format off
        g_methods = sqlite3_io_methods{3, Close, xRead, Write, xTruncate, Sync, xFileSize, xLock, xUnlock,
                                       xCheckReservedLock, xFileControl, xSectorSize, xDeviceCharacteristics,
                                       xShmMap, xShmLock, xShmBarrier, xShmUnmap, xFetch, xUnfetch};
        // clang-format on
        sqlite3_vfs_register(&g_vfs, 1);
    });
}

}  // namespace host::regdb
