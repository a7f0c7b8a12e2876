// A process killed at any moment loses no write whose call had returned, and leaves a store
// that opens cleanly. PELORN_KILLS sets the kills (200; bench/kills.sh runs 1,000), PELORN_SEED
// replays a run.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

// The data written under n<i>: its length and bytes both depend on i.
std::vector<BYTE> Pattern(DWORD i) {
    std::vector<BYTE> data(4 + i % 97);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<BYTE>(i * 31 + k);
    return data;
}

std::u16string Name(DWORD i) {
    std::u16string name = u"n";
    for (char c : std::to_string(i))
        name.push_back(static_cast<char16_t>(c));
    return name;
}

host::BootOptions Options(const std::string& folder) {
    host::BootOptions options;
    options.folder = folder;
    return options;
}

// Writes n<i> and then "last" = i for i = first, first + 1, ..., reporting each i on `report`
// once both calls have returned. Never returns.
[[noreturn]] void Writer(const std::string& folder, int round, DWORD first, int report) {
    host::Handheld::Boot(Options(folder));
    HKEY key = nullptr;
    std::u16string round_key = u"Crash\\Round" + Name(static_cast<DWORD>(round));
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, round_key.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) != 0 ||
        RegCloseKey(key) != 0 ||
        RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Crash", 0, nullptr, 0, 0, nullptr, &key, nullptr) != 0)
        _exit(2);
    for (DWORD i = first;; ++i) {
        std::vector<BYTE> data = Pattern(i);
        if (RegSetValueEx(key, Name(i).c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) != 0 ||
            RegSetValueEx(key, u"last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), 4) != 0)
            _exit(3);
        if (write(report, &i, sizeof i) != sizeof i) _exit(4);
    }
}

std::string IntegrityCheck(const std::string& db) {
    sqlite3* c = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(db.c_str(), &c, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {  // rolls back a cut change
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(c, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(c);
    return result;
}

TEST(RegistryCrashTest, EveryReportedWriteSurvivesAKillAtAnyPoint) {
    const char* env = std::getenv("PELORN_SEED");
    const unsigned seed = env ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
    const int kills = std::getenv("PELORN_KILLS") ? std::atoi(std::getenv("PELORN_KILLS")) : 200;
    std::printf("registry crash test: PELORN_SEED=%u PELORN_KILLS=%d\n", seed, kills);
    SCOPED_TRACE("PELORN_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);

    // Kills do not depend on the disk: a memory file system spares every commit its wait.
    char in_memory[] = "/dev/shm/pelorn-crash-XXXXXX";
    const std::string root = mkdtemp(in_memory) ? in_memory : pelorn_test::MakeTempFolder("pelorn-crash");
    const std::string folder = root + "/device";
    std::vector<DWORD> reported;
    for (int round = 0; round < kills && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int report[2];
        ASSERT_EQ(0, pipe(report));
        const DWORD first = reported.empty() ? 1 : reported.back() + 1;
        pid_t child = fork();
        if (child == 0) {
            close(report[0]);
            Writer(folder, round, first, report[1]);
        }
        close(report[1]);
        // Now and then during boot or the very first writes; mostly mid-run, counted from the
        // writer's first report, so that a slow machine (or an emulated one) kills as late.
        DWORD i = 0;
        int delay_us = static_cast<int>(random() % 5000);
        if (random() % 4 != 0) {
            pollfd first_write{report[0], POLLIN, 0};
            if (poll(&first_write, 1, 10000) == 1 && read(report[0], &i, sizeof i) == sizeof i) reported.push_back(i);
            delay_us = static_cast<int>(random() % 30000);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with status " << WEXITSTATUS(status);
        while (read(report[0], &i, sizeof i) == sizeof i)
            reported.push_back(i);
        close(report[0]);

        // Killed before the new device's store was in place: nothing may have been reported.
        if (access((folder + "/registry.db").c_str(), F_OK) == 0)
            EXPECT_EQ("ok", IntegrityCheck(folder + "/registry.db"));
        else
            EXPECT_TRUE(reported.empty());
        host::Handheld::Boot(Options(folder));
        HKEY key = nullptr;
        if (!reported.empty()) {
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Crash", 0, 0, &key));
            for (DWORD n : round + 1 == kills ? reported : std::vector<DWORD>{}) {  // all, after the last kill
                std::vector<BYTE> data(256);
                DWORD type = 0, size = 256;
                ASSERT_EQ(ERROR_SUCCESS, RegQueryValueEx(key, Name(n).c_str(), nullptr, &type, data.data(), &size))
                    << "n" << n;
                data.resize(size);
                ASSERT_EQ(Pattern(n), data) << "n" << n;
            }
            // The write in flight when the writer died may or may not have landed.
            DWORD last = 0, size = 4;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegQueryValueEx(key, u"last", nullptr, nullptr, reinterpret_cast<BYTE*>(&last), &size));
            EXPECT_GE(last, reported.back());
            EXPECT_LE(last, reported.back() + 1);
            RegCloseKey(key);
        }
        host::Handheld::PowerOff();
    }
    EXPECT_GT(reported.size(), static_cast<std::size_t>(kills)) << "the writer hardly ever got going";
    if (!HasFailure())
        std::printf("registry crash test: %d kills, %zu writes reported, 0 lost\n", kills, reported.size());
    pelorn_test::RemoveTree(root);
}

}  // namespace
