/* The floor for a running pelorn's per-tick CPU: the least a steady tick must do with the
 * handheld's registry, written straight against SQLite's C interface. Every 1.5 s it wakes from
 * one poll over three wake sources (as pelorn's loop polls), and in one read transaction finds
 * the profile's key by its path and reads the two values a steady tick reads there: State_Chg
 * and the brightness level of the profile in force. The statements are prepared once. Nothing
 * else: no window, no tray, no trace, no log.
 *
 *   tick_floor REGISTRY     (the registry of a running pelorn, which it reads beside it) */
#include <poll.h>
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = NULL;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, NULL) != SQLITE_OK) {
        fprintf(stderr, "tick_floor: %s\n", sqlite3_errmsg(db));
        return NULL;
    }
    return s;
}

/* A name as the registry keeps it as written: UTF-16, little-endian. */
static int Utf16(const char* ascii, unsigned char* out) {
    int n = 0;
    for (; *ascii; ++ascii) {
        out[n++] = (unsigned char)*ascii;
        out[n++] = 0;
    }
    return n;
}

static volatile unsigned char seen;

/* Runs a statement once; a row's last column is read, as a tick reads a value's bytes. */
static int Step(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        int last = sqlite3_column_count(s) - 1;
        const unsigned char* data = sqlite3_column_blob(s, last);
        if (data && sqlite3_column_bytes(s, last) > 0) seen = data[0];
    }
    sqlite3_reset(s);
    return rc;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, NULL) != SQLITE_OK) return 1;
    sqlite3_busy_timeout(db, 5);
    /* The key's path and the values' folded names, as pelorn stored them. */
    sqlite3_stmt* where = Prepare(db,
        "SELECT k.path, a.fold, b.fold FROM keys k JOIN vals a ON a.key = k.id JOIN vals b ON b.key = k.id "
        "WHERE a.name = ?1 AND b.name = ?2");
    sqlite3_stmt* begin = Prepare(db, "BEGIN");
    sqlite3_stmt* commit = Prepare(db, "COMMIT");
    sqlite3_stmt* find_key = Prepare(db, "SELECT id FROM keys WHERE path = ?1");
    sqlite3_stmt* state_chg = Prepare(db, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    sqlite3_stmt* slide = Prepare(db, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    if (!where || !begin || !commit || !find_key || !state_chg || !slide) return 1;
    unsigned char name[64];
    sqlite3_bind_blob(where, 1, name, Utf16("State_Chg", name), SQLITE_TRANSIENT);
    sqlite3_bind_blob(where, 2, name, Utf16("STD_Slide", name), SQLITE_TRANSIENT);
    if (sqlite3_step(where) != SQLITE_ROW) {
        fprintf(stderr, "tick_floor: %s has no profile yet\n", argv[1]);
        return 1;
    }
    sqlite3_bind_blob(find_key, 1, sqlite3_column_blob(where, 0), sqlite3_column_bytes(where, 0), SQLITE_TRANSIENT);
    sqlite3_bind_blob(state_chg, 2, sqlite3_column_blob(where, 1), sqlite3_column_bytes(where, 1), SQLITE_TRANSIENT);
    sqlite3_bind_blob(slide, 2, sqlite3_column_blob(where, 2), sqlite3_column_bytes(where, 2), SQLITE_TRANSIENT);
    sqlite3_finalize(where);

    int pipes[2], sockets[2];
    if (pipe(pipes) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) return 1;
    struct pollfd fds[3] = {{pipes[0], POLLIN, 0}, {sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
    for (;;) {
        poll(fds, 3, 1500);
        if (Step(begin) != SQLITE_DONE) return 1;
        if (sqlite3_step(find_key) == SQLITE_ROW) {
            sqlite3_int64 key = sqlite3_column_int64(find_key, 0);
            sqlite3_bind_int64(state_chg, 1, key);
            sqlite3_bind_int64(slide, 1, key);
            Step(state_chg);
            Step(slide);
        }
        sqlite3_reset(find_key);
        if (Step(commit) != SQLITE_DONE) return 1;
    }
}
