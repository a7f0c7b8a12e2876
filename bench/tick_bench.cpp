// What one steady monitor tick costs: the system started on a fresh device with the SQLite
// registry, the trace off, ticks served until nothing changes from one to the next.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/switch_app.h"
#include "frame/main_frame.h"
#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"

namespace {

constexpr std::uint32_t kGpioSet1 = 0x1C;    // GPSR1
constexpr std::uint32_t kGpioClear1 = 0x28;  // GPCR1
constexpr ULONG kPin38 = 1u << (38 - 32);

class System {
public:
    explicit System(bool receiver_on) {
        char folder[] = "/tmp/tick-bench-XXXXXX";
        if (!mkdtemp(folder)) std::abort();
        folder_ = folder;
        host::BootOptions options;
        options.folder = folder_ + "/device";
        options.program = "Pelorn";
        options.resources = &PelornResources();
        device_ = &host::Handheld::Boot(options);
        device_->gpio().Write(receiver_on ? kGpioSet1 : kGpioClear1, kPin38);
        CMainFrame::ResetProcessState();
        theApp.SetCurrentHandles();
        if (!theApp.InitInstance()) std::abort();
        window_ = theApp.m_pMainWnd->GetSafeHwnd();
        device_->windows().RunFor(6000);  // the refresh after start-up, then steady ticks
    }
    ~System() {
        host::Handheld::PowerOff();
        theApp.m_pMainWnd = nullptr;
        nftw(
            folder_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    HWND window() const { return window_; }
    host::Handheld& device() { return *device_; }

    // The calls one tick makes, by name, with the trace on for just that tick.
    std::map<std::string, int> TickCalls() {
        device_->trace().Clear();
        device_->trace().Enable(true);
        ::SendMessage(window_, WM_TIMER, MONITOR_TIMER_ID, 0);
        device_->trace().Enable(false);
        std::map<std::string, int> calls;
        for (const auto& e : device_->trace().entries())
            if (e.call != "SendMessage") ++calls[std::string(e.call)];
        device_->trace().Clear();
        return calls;
    }

private:
    std::string folder_;
    host::Handheld* device_ = nullptr;
    HWND window_ = nullptr;
};

void Report(benchmark::State& state, System& system) {
    auto calls = system.TickCalls();
    for (const auto& [name, n] : calls)
        state.counters[name] = n;
    // At most one key open, two value reads, one status query, one driver call, no write.
    if (calls["RegOpenKeyEx"] > 1 || calls["RegQueryValueEx"] > 2 || calls["GetSystemPowerStatusEx"] > 1 ||
        calls["DeviceIoControl"] > 1 || calls["RegSetValueEx"] > 0)
        state.SkipWithError("a steady tick makes more platform calls than it should");
}

// A running pelorn sleeps 1.5 s between ticks, and whatever else the machine ran meanwhile has
// taken its caches: each tick here starts with them filled by other data, as there.
void SteadyTick(benchmark::State& state) {
    System system(state.range(0) != 0);
    std::vector<char> elsewhere(32 << 20);
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t i = 0; i < elsewhere.size(); i += 64)
            elsewhere[i] = static_cast<char>(elsewhere[i] + 1);
        benchmark::ClobberMemory();
        state.ResumeTiming();
        system.device().windows().RunFor(1500);
    }
    Report(state, system);
}
BENCHMARK(SteadyTick)->Arg(0)->Arg(1)->ArgName("receiver_on");

// The same tick with its caches warm from the one before: what the tick itself costs at best.
void LoopServesOneTick(benchmark::State& state) {
    System system(state.range(0) != 0);
    for (auto _ : state)
        system.device().windows().RunFor(1500);
    Report(state, system);
}
BENCHMARK(LoopServesOneTick)->Arg(0)->Arg(1)->ArgName("receiver_on");

}  // namespace

BENCHMARK_MAIN();
