// What the registry costs the system. Every 1.5 s the monitor opens one key, reads two values,
// writes one (almost always with the value already stored) and closes the key.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "on_temporary_device.h"
#include "platform/host/handheld.h"
#include "platform/host/seam.h"

namespace {

constexpr const WCHAR* kShell = u"Software\\MicroSoft\\Shell";

LONG SetDword(HKEY key, const WCHAR* name, DWORD v) {
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

LONG GetDword(HKEY key, const WCHAR* name, DWORD* v) {
    DWORD size = sizeof *v;
    return RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(v), &size);
}

HKEY OpenShell(benchmark::State& state) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kShell, 0, 0, &key) != ERROR_SUCCESS) state.SkipWithError("open failed");
    return key;
}

void OpenClose(benchmark::State& state) {
    for (auto _ : state) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kShell, 0, 0, &key) != ERROR_SUCCESS) state.SkipWithError("open failed");
        RegCloseKey(key);
    }
}
BENCHMARK(OpenClose);

void QueryDword(benchmark::State& state) {
    HKEY key = OpenShell(state);
    SetDword(key, u"GPS_Slide", 10);
    for (auto _ : state) {
        DWORD v = 0;
        if (GetDword(key, u"GPS_Slide", &v) != ERROR_SUCCESS) state.SkipWithError("query failed");
        benchmark::DoNotOptimize(v);
    }
    RegCloseKey(key);
}
BENCHMARK(QueryDword);

void SetChangedDword(benchmark::State& state) {
    HKEY key = OpenShell(state);
    DWORD v = 0;
    for (auto _ : state)
        if (SetDword(key, u"State_Chg", ++v) != ERROR_SUCCESS) state.SkipWithError("set failed");
    SetDword(key, u"State_Chg", 0);
    RegCloseKey(key);
}
BENCHMARK(SetChangedDword)->Unit(benchmark::kMicrosecond);

void SetSameDword(benchmark::State& state) {
    HKEY key = OpenShell(state);
    SetDword(key, u"State_Chg", 0);
    for (auto _ : state)
        if (SetDword(key, u"State_Chg", 0) != ERROR_SUCCESS) state.SkipWithError("set failed");
    RegCloseKey(key);
}
BENCHMARK(SetSameDword);

// The registry as a steady monitor tick uses it: the profile key opened, the change flag read (and
// found clear, so nothing is written), the brightness read, the key closed.
void MonitorTick(benchmark::State& state) {
    HKEY key = OpenShell(state);
    SetDword(key, u"GPS_Slide", 10);
    SetDword(key, u"State_Chg", 0);
    RegCloseKey(key);
    for (auto _ : state) {
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kShell, 0, 0, &key) != ERROR_SUCCESS) state.SkipWithError("open failed");
        DWORD slide = 0, changed = 0;
        GetDword(key, u"State_Chg", &changed);
        GetDword(key, u"GPS_Slide", &slide);
        if (changed != 0) state.SkipWithError("the change flag is set: a steady tick finds it clear");
        RegCloseKey(key);
        benchmark::DoNotOptimize(slide + changed);
    }
}
BENCHMARK(MonitorTick);

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    return RunOnTemporaryDevice(argc, argv, "pelorn-bench", &folder);
}
