// The registry file: what other processes, the disk and a damaged file see of it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/registry_store.h"
#include "platform/host/trace.h"
#include "support/device_test.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

LONG SetDword(HKEY key, const char16_t* name, DWORD v) {
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

DWORD GetDword(HKEY key, const char16_t* name, LONG* status) {
    DWORD v = 0, size = sizeof v;
    *status = RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
    return v;
}

// Every key of a store as "ROOT\\path", every value as "ROOT\\path=name", through the store alone.
std::vector<std::string> Contents(host::RegistryStore& store) {
    std::vector<std::string> out;
    std::function<void(host::RegKeyId, const std::string&)> walk = [&](host::RegKeyId key, const std::string& path) {
        host::RegValue value;
        for (DWORD i = 0; store.EnumValue(key, i, &value) == ERROR_SUCCESS; ++i)
            out.push_back(path + "=" + host::json::Utf8(value.name));
        std::u16string name;
        std::uint64_t written = 0;
        for (DWORD i = 0; store.EnumKey(key, i, &name, &written) == ERROR_SUCCESS; ++i) {
            host::RegKeyId child = 0;
            EXPECT_EQ(ERROR_SUCCESS, store.OpenKey(key, name, &child));
            out.push_back(path + "\\" + host::json::Utf8(name));
            walk(child, out.back());
        }
    };
    walk(host::RegistryStore::Root(HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT");
    walk(host::RegistryStore::Root(HKEY_CURRENT_USER), "HKEY_CURRENT_USER");
    walk(host::RegistryStore::Root(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
    walk(host::RegistryStore::Root(HKEY_USERS), "HKEY_USERS");
    return out;
}

TEST(RegistryNewStoreTest, HoldsTheSystemKeysAndNothingElse) {
    const std::vector<std::string> expected = {
        "HKEY_CURRENT_USER\\ControlPanel",
        "HKEY_CURRENT_USER\\ControlPanel\\Backlight",
        "HKEY_CURRENT_USER\\Software",
        "HKEY_CURRENT_USER\\Software\\MicroSoft",
        "HKEY_CURRENT_USER\\Software\\MicroSoft\\Shell",
        "HKEY_LOCAL_MACHINE\\System",
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet",
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control",
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Power",
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Power\\Timeouts",
    };
    const std::string folder = pelorn_test::MakeTempFolder();
    const host::DeviceFolder device(folder);
    {
        host::RegistryStore store(device);
        EXPECT_EQ(folder + "/registry.db", store.file());
        EXPECT_EQ(expected, Contents(store));
    }
    host::RegistryStore again(device);
    EXPECT_EQ(expected, Contents(again));
    pelorn_test::RemoveTree(folder);
}

class RegistryStoreTest : public pelorn_test::DeviceTest {
protected:
    std::string device_folder() const { return folder() + "/device"; }
    std::string db() const { return device_folder() + "/registry.db"; }

    // Another program on the same device: a child process that boots the device on its own
    // and returns `body`'s result as its exit status. The device here is switched off around
    // the fork, so that no database connection is shared with the child.
    pid_t Spawn(std::function<int()> body) {
        host::Handheld::PowerOff();
        pid_t pid = fork();
        if (pid == 0) {
            int code = 100;
            try {
                host::BootOptions options;
                options.folder = device_folder();
                host::Handheld::Boot(options);
                code = body();
            } catch (...) {
            }
            _exit(code);
        }
        Reboot();
        return pid;
    }
    static int ExitCode(pid_t pid) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void ExpectRefusedUntouched(const char* what) {
        SCOPED_TRACE(what);
        const std::string before = ReadAll(db());
        host::BootOptions options;
        options.folder = device_folder();
        try {
            host::Handheld::Boot(options);
            ADD_FAILURE() << "the device booted";
            host::Handheld::PowerOff();
        } catch (const host::DeviceError& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(db())) << e.what();
        }
        EXPECT_EQ(before, ReadAll(db()));
        for (const char* beside : {"-journal", "-wal", "-shm"})
            EXPECT_FALSE(std::filesystem::exists(db() + beside)) << "made beside it: " << beside;
    }
};

TEST_F(RegistryStoreTest, WritingTheStoredValueAgainLeavesTheDiskAlone) {
    HKEY shell = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell", 0, 0, &shell));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(shell, u"State_Chg", 0));

    // A second connection sees data_version move with every commit of any other connection.
    sqlite3* probe = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(db().c_str(), &probe, SQLITE_OPEN_READONLY, nullptr));
    auto version = [&] {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(probe, "PRAGMA data_version", -1, &s, nullptr);
        sqlite3_step(s);
        auto v = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        return v;
    };
    auto files = [&] {
        std::string out;
        for (const std::string& f : {db(), db() + "-wal"}) {
            struct stat st {};
            stat(f.c_str(), &st);
            out += std::to_string(st.st_size) + "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                   std::to_string(st.st_mtim.tv_nsec) + " ";
        }
        return out;
    };
    const auto v0 = version();
    const auto f0 = files();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ERROR_SUCCESS, SetDword(shell, u"STATE_CHG", 0));
    EXPECT_EQ(v0, version());
    EXPECT_EQ(f0, files());

    // Same bytes under another type is a change.
    const BYTE zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueEx(shell, u"State_Chg", 0, REG_BINARY, zero, 4));
    EXPECT_NE(v0, version());
    sqlite3_close(probe);
}

// The system's loop: its writes reach other processes together, at its next wait, and another
// process holding the store never holds the loop.
class ResidentStoreTest : public RegistryStoreTest {
protected:
    host::BootOptions Options() override {
        host::BootOptions o = RegistryStoreTest::Options();
        o.resident = true;
        return o;
    }
    // What another process reads: the values of the store, in one statement.
    std::string Others() {
        sqlite3* probe = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(db().c_str(), &probe, SQLITE_OPEN_READONLY, nullptr));
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(probe, "SELECT group_concat(hex(data), ' ') FROM (SELECT data FROM vals ORDER BY id)", -1,
                           &s, nullptr);
        std::string out = sqlite3_step(s) == SQLITE_ROW && sqlite3_column_text(s, 0)
                              ? reinterpret_cast<const char*>(sqlite3_column_text(s, 0))
                              : "";
        sqlite3_finalize(s);
        sqlite3_close(probe);
        return out;
    }
};

TEST_F(ResidentStoreTest, ATurnsWritesReachOtherProcessesTogetherAtTheNextWait) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyEx(HKEY_CURRENT_USER, u"Software\\Kept", 0, nullptr, 0, 0, nullptr, &key, nullptr));
    Sleep(0);
    const std::string before = Others();
    LONG status = 0;
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"Level", 1));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"lEVEL", 2));
    EXPECT_EQ(2u, GetDword(key, u"LEVEL", &status));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"Other", 3));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValue(key, u"LeVeL"));
    GetDword(key, u"Level", &status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, status);
    EXPECT_EQ(before, Others()) << "seen before the loop waited";
    Sleep(0);
    EXPECT_EQ(before + (before.empty() ? "" : " ") + "03000000", Others());
    RegCloseKey(key);
}

TEST_F(ResidentStoreTest, AWriteThatFindsTheStoreHeldIsKeptInOrderAndCommittedLater) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyEx(HKEY_CURRENT_USER, u"Software\\Kept", 0, nullptr, 0, 0, nullptr, &key, nullptr));
    Sleep(0);
    std::vector<std::pair<std::size_t, std::string>> told;
    device().registry().ObserveHeldWrites(
        [&](std::size_t kept, const std::string& holder) { told.emplace_back(kept, holder); });
    // Another program takes the write lock and keeps it until told.
    int go[2], held[2];
    ASSERT_EQ(0, pipe(go));
    ASSERT_EQ(0, pipe(held));
    pid_t holder = fork();
    if (holder == 0) {
        sqlite3* other = nullptr;
        sqlite3_open_v2(db().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr);
        char c = sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK ? 'y' : 'n';
        if (write(held[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) _exit(1);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(1, read(held[0], &c, 1));
    ASSERT_EQ('y', c);

    LONG status = 0;
    for (DWORD v : {1u, 2u, 3u})
        EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"Level", v));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValue(key, u"Level"));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, u"Level", 4));
    EXPECT_EQ(4u, GetDword(key, u"Level", &status));
    Sleep(0);  // still held: kept for a later wait
    ASSERT_EQ(1u, told.size());
    EXPECT_EQ(std::make_pair(std::size_t{1}, "process " + std::to_string(holder)), told[0]);

    ASSERT_EQ(1, write(go[1], "g", 1));
    EXPECT_EQ(0, ExitCode(holder));
    Sleep(0);
    EXPECT_EQ("04000000", Others());
    ASSERT_EQ(2u, told.size());
    EXPECT_EQ(0u, told[1].first);
    RegCloseKey(key);
}

TEST_F(ResidentStoreTest, AHardwareSettingAnotherProcessChangesShowsAtTheLoopsNextTurn) {
    auto ac_line = [] {
        SYSTEM_POWER_STATUS_EX s{};
        EXPECT_TRUE(GetSystemPowerStatusEx(&s, TRUE));
        return s.ACLineStatus;
    };
    host::RegistryStore other(device().device_folder());
    for (BYTE level : {AC_LINE_ONLINE, AC_LINE_OFFLINE, AC_LINE_UNKNOWN}) {
        SCOPED_TRACE(level);
        ac_line();
        Sleep(0);
        host::SetHardwareDword(other, u"Power", u"ACLine", level);
        EXPECT_EQ(level, ac_line());
    }
}

TEST_F(RegistryStoreTest, AnotherProcessSeesACommittedValueAtOnce) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", 0, nullptr, 0, 0, nullptr,
                                            &key, nullptr));
    int go[2], back[2];
    ASSERT_EQ(0, pipe(go));
    ASSERT_EQ(0, pipe(back));
    pid_t child = Spawn([&] {
        close(go[1]);
        close(back[0]);
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", 0, 0, &k) != ERROR_SUCCESS) return 1;
        DWORD expected = 0;
        while (read(go[0], &expected, sizeof expected) == sizeof expected) {
            LONG status = 0;
            DWORD seen = GetDword(k, u"GPSHDL", &status);
            if (status != ERROR_SUCCESS) seen = 0xFFFFFFFF;
            if (write(back[1], &seen, sizeof seen) != sizeof seen) return 2;
        }
        return 0;
    });
    close(go[0]);
    close(back[1]);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", 0, 0, &key));
    for (DWORD i = 1; i <= 20; ++i) {
        ASSERT_EQ(ERROR_SUCCESS, SetDword(key, u"GPSHDL", i * 4));
        ASSERT_EQ(static_cast<ssize_t>(sizeof i), write(go[1], &i, sizeof i));
        DWORD seen = 0;
        ASSERT_EQ(static_cast<ssize_t>(sizeof seen), read(back[0], &seen, sizeof seen));
        EXPECT_EQ(i * 4, seen);
    }
    close(go[1]);
    close(back[0]);
    EXPECT_EQ(0, ExitCode(child));
}

TEST_F(RegistryStoreTest, ProcessesWritingTogetherNeverFailAndShareTheCounter) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Shared", 0, nullptr, 0, 0, nullptr, &key, nullptr));
    constexpr int kWriters = 3, kRounds = 60;
    int start[2];
    ASSERT_EQ(0, pipe(start));
    // Each writer creates keys others create too, writes values of its own, and draws from the
    // shared counter; its exit status counts the calls that failed.
    auto writer = [&](int id) {
        return [&, id] {
            close(start[1]);
            char c;
            if (read(start[0], &c, 1) != 0) return 101;
            int failed = 0;
            for (int j = 0; j < kRounds; ++j) {
                HKEY k = nullptr;
                std::u16string sub = u"Shared\\Sub" + std::u16string(1, static_cast<char16_t>(u'0' + j % 5));
                if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr) !=
                    ERROR_SUCCESS) {
                    ++failed;
                    continue;
                }
                DWORD n = host::Handheld::Current().registry().NextCounter("test", 1000);
                std::u16string name = u"w" + std::u16string(1, static_cast<char16_t>(u'0' + id)) + u"-" +
                                      std::u16string(1, static_cast<char16_t>(u'A' + j / 26)) +
                                      std::u16string(1, static_cast<char16_t>(u'a' + j % 26));
                failed += SetDword(k, name.c_str(), n) != ERROR_SUCCESS;
                failed += RegCloseKey(k) != ERROR_SUCCESS;
            }
            return failed;
        };
    };
    std::vector<pid_t> children;
    for (int id = 0; id < kWriters; ++id)
        children.push_back(Spawn(writer(id)));
    close(start[0]);
    close(start[1]);  // everybody starts now
    for (pid_t child : children)
        EXPECT_EQ(0, ExitCode(child));

    std::multiset<DWORD> drawn;
    for (int s = 0; s < 5; ++s) {
        std::u16string sub = u"Shared\\Sub" + std::u16string(1, static_cast<char16_t>(u'0' + s));
        HKEY k = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, sub.c_str(), 0, 0, &k));
        WCHAR name[32];
        DWORD value = 0;
        for (DWORD i = 0;; ++i) {
            DWORD chars = 32, size = 4;
            LONG r = RegEnumValue(k, i, name, &chars, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
            if (r != ERROR_SUCCESS) break;
            drawn.insert(value);
        }
        RegCloseKey(k);
    }
    ASSERT_EQ(static_cast<std::size_t>(kWriters * kRounds), drawn.size());
    EXPECT_EQ(1000u, *drawn.begin());
    EXPECT_EQ(1000u + kWriters * kRounds - 1, *drawn.rbegin());
    EXPECT_EQ(drawn.size(), std::set<DWORD>(drawn.begin(), drawn.end()).size());
    EXPECT_EQ(1000u + kWriters * kRounds, device().registry().NextCounter("test", 1000));
    EXPECT_EQ(7u, device().registry().NextCounter("other", 7));
}

TEST_F(RegistryStoreTest, DamagedOrForeignFilesAreRefusedAndLeftAsTheyAre) {
    host::Handheld::PowerOff();
    const std::string ours = ReadAll(db());
    ASSERT_GT(ours.size(), 8192u);

    WriteAll(db(), std::string(3000, 'x') + "not a registry\n");
    ExpectRefusedUntouched("not SQLite");

    WriteAll(db(), "");
    ExpectRefusedUntouched("empty");

    ASSERT_EQ(0, unlink(db().c_str()));
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(db().c_str(), &other));
    ASSERT_EQ(SQLITE_OK,
              sqlite3_exec(other, "CREATE TABLE keys (x); INSERT INTO keys VALUES (1)", nullptr, nullptr, nullptr));
    sqlite3_close(other);
    ExpectRefusedUntouched("another program's database");

    std::string damaged = ours;
    for (std::size_t i = 4096; i < 4096 + 16; ++i)
        damaged[i] = '\xFF';  // the second page's header
    WriteAll(db(), damaged);
    ExpectRefusedUntouched("damaged page");
    damaged[18] = damaged[19] = 2;  // and a header that says a log is kept beside it
    WriteAll(db(), damaged);
    ExpectRefusedUntouched("damaged page, log mode");

    WriteAll(db(), ours.substr(0, ours.size() - 4096));
    ExpectRefusedUntouched("cut short");

    // Put back whole, the same file boots again.
    WriteAll(db(), ours);
    Reboot();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software\\MicroSoft\\Shell", 0, 0, &key));
}

TEST_F(RegistryStoreTest, NothingDoneToItsFilesKillsAProcessUsingTheStore) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Cut", 0, nullptr, 0, 0, nullptr, &key, nullptr));
    // Every file of the device cut to nothing under the process, and the log's index, which every
    // process maps, overwritten with garbage: its calls may fail, it goes on.
    auto cut = [&] {
        for (const auto& e : std::filesystem::directory_iterator(device_folder())) {
            if (e.path().string() != db() + "-shm") {
                truncate(e.path().c_str(), 0);
                continue;
            }
            std::fstream shm(e.path(), std::ios::binary | std::ios::in | std::ios::out);
            shm << std::string(std::filesystem::file_size(e.path()), '\xFF');
        }
        for (DWORD i = 0; i < 10; ++i)
            SetDword(key, u"V", i);
        std::exit(0);
    };
    EXPECT_EXIT(cut(), ::testing::ExitedWithCode(0), "");
}

TEST_F(RegistryStoreTest, WhatAProcessKilledWhileMakingTheStoreLeftGoesAtTheNextStart) {
    const std::string left = device_folder() + "/registry.db.new-2147483647";  // no such process
    for (const std::string& file : {left, left + "-journal"})
        WriteAll(file, "half built");
    Reboot();
    EXPECT_FALSE(std::filesystem::exists(left) || std::filesystem::exists(left + "-journal"));
}

}  // namespace
