// The registry at scale, beside the floor of the same work done directly in SQLite:
//   EnumValues/N       every value of a key of N values through RegEnumValue, as reg query does
//   EnumFloor/N        one ordered query over the same rows, read out
//   OpenStore/100000   opening a device whose registry holds 100k values
//   Import/100000      reg import of a .reg file of 100k values (one transaction)
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "handheld/reg/reg_command.h"
#include "on_temporary_device.h"
#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"
#include "platform/host/seam.h"

namespace {

std::string g_folder;  // a temporary folder for everything the benchmarks make

std::u16string KeyPath(long n) {
    std::string s = "Software\\Scale" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// A key of HKCU holding n DWORD values, made once per size in one batch.
void Fill(host::RegistryStore& store, long n) {
    std::vector<host::RegChange> changes(1);
    changes[0].base = host::RegistryStore::Root(HKEY_CURRENT_USER);
    changes[0].path = KeyPath(n);
    for (long i = 0; i < n; ++i) {
        host::RegChange c = changes[0];
        c.kind = host::RegChange::Kind::kSetValue;
        std::string name = "Value" + std::to_string(i);
        c.name.assign(name.begin(), name.end());
        c.type = REG_DWORD;
        c.data = {static_cast<BYTE>(i), static_cast<BYTE>(i >> 8), 0, 0};
        changes.push_back(std::move(c));
    }
    std::size_t failed = 0;
    store.Apply(changes, &failed);
}

void EnumValues(benchmark::State& state) {
    Fill(host::Handheld::Current().registry(), state.range(0));
    HKEY key = nullptr;
    std::u16string path = KeyPath(state.range(0));
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) state.SkipWithError("open");
    for (auto _ : state) {
        long seen = 0;
        for (DWORD i = 0;; ++i) {
            WCHAR name[64];
            DWORD chars = 64, type = 0, size = 16;
            BYTE data[16];
            if (RegEnumValue(key, i, name, &chars, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
            ++seen;
        }
        if (seen != state.range(0)) state.SkipWithError("values missing");
    }
    RegCloseKey(key);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(EnumValues)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void EnumFloor(benchmark::State& state) {
    Fill(host::Handheld::Current().registry(), state.range(0));
    sqlite3* db = nullptr;
    sqlite3_open_v2((g_folder + "/device/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id", -1, &q, nullptr);
    host::RegistryStore& store = host::Handheld::Current().registry();
    host::RegKeyId key = 0;
    store.OpenKey(host::RegistryStore::Root(HKEY_CURRENT_USER), KeyPath(state.range(0)), &key);
    for (auto _ : state) {
        sqlite3_reset(q);
        sqlite3_bind_int64(q, 1, key);
        long seen = 0;
        while (sqlite3_step(q) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_blob(q, 0));
            benchmark::DoNotOptimize(sqlite3_column_blob(q, 2));
            ++seen;
        }
        if (seen != state.range(0)) state.SkipWithError("rows missing");
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
}
BENCHMARK(EnumFloor)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void OpenStore(benchmark::State& state) {
    host::DeviceFolder folder(g_folder + "/big");
    {
        host::RegistryStore store(folder);
        Fill(store, state.range(0));
    }
    for (auto _ : state) {
        host::RegistryStore store(folder);
        benchmark::DoNotOptimize(&store);
    }
}
BENCHMARK(OpenStore)->Arg(100000)->Unit(benchmark::kMillisecond);

void Import(benchmark::State& state) {
    std::string file = g_folder + "/import.reg";
    {
        std::ofstream out(file);
        out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Imported]\r\n";
        for (long i = 0; i < state.range(0); ++i)
            out << "\"Value" << i << "\"=dword:" << std::hex << i << std::dec << "\r\n";
    }
    handheld::RegCommand command = handheld::ParseRegCommand({"import", file});
    for (auto _ : state)
        if (handheld::RunRegCommand(command).exit_code != 0) state.SkipWithError("import failed");
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Import)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) { return RunOnTemporaryDevice(argc, argv, "pelorn-scale", &g_folder); }
