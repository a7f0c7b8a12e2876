#include "platform/host/handheld.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/host/device_folder.h"
#include "platform/host/endpoint.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/registry_store.h"
#include "platform/host/serial.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace host {
namespace {

Handheld* g_device = nullptr;
thread_local DWORD g_last_error = 0;

// Nobody is at the device: whatever modal box is open gets acknowledged.
class Nobody final : public User {
public:
    bool Act() override { return Handheld::Current().windows().AcknowledgeTopModal(); }
};

std::string ExecutableName() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "app";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

std::string DefaultDeviceFolder() {
    if (const char* dev = std::getenv("PELORN_DEVICE"); dev && *dev) return dev;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/pelorn";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/pelorn";
}

Handheld::Handheld(const BootOptions& options)
    : folder_(std::make_unique<DeviceFolder>(options.folder.empty() ? DefaultDeviceFolder() : options.folder)),
      program_(options.program.empty() ? ExecutableName() : options.program),
      resources_(options.resources) {
    if (options.virtual_clock)
        clock_ = std::make_unique<VirtualClock>();
    else
        clock_ = std::make_unique<RealClock>();
    registry_ = std::make_unique<RegistryStore>(*folder_);
    if (options.private_folder) registry_->SoleWriter();
    if (options.resident) {
        registry_->CommitAtWaits();
        clock_->SetBeforeWait([this] { registry_->Commit(); });
    }
    windows_ = std::make_unique<WindowManager>(*this);
    shell_ = std::make_unique<Shell>(*this);
    gpio_ = std::make_unique<GpioBlock>(*registry_);
    power_ = std::make_unique<PowerDevices>(*clock_, *registry_);
    serial_ = std::make_unique<SerialPorts>(*clock_, *registry_, [this] { return gpio_->PinLevel(38); });
    if (!options.virtual_clock) endpoint_ = std::make_unique<Endpoint>(*this);
}

Handheld::~Handheld() = default;

const std::string& Handheld::folder() const { return folder_->path(); }

Handheld& Handheld::Boot(const BootOptions& options) {
    if (g_device) throw DeviceError("a handheld is already switched on in this process");
    g_device = new Handheld(options);
    return *g_device;
}

Handheld* Handheld::IfBooted() { return g_device; }

Handheld& Handheld::Current() {
    if (!g_device) {
        std::fputs("the virtual handheld is not switched on\n", stderr);
        std::abort();
    }
    return *g_device;
}

void Handheld::PowerOff() {
    Handheld* d = g_device;
    if (!d) return;
    // Windows go first, while the device is still on: their handlers may call into it.
    d->windows_->DestroyAll();
    d->registry_->Commit();
    d->endpoint_.reset();
    d->windows_.reset();
    d->handles_ = HandleTable{};
    g_device = nullptr;
    delete d;
}

User& Handheld::user() {
    static Nobody nobody;
    return user_ ? *user_ : nobody;
}

}  // namespace host

DWORD GetLastError() { return host::g_last_error; }
void SetLastError(DWORD error) { host::g_last_error = error; }
