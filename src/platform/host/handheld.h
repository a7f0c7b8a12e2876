// The virtual handheld: one device per process, its folder, clock, registry, windows and shell.
//
// Tools and tests boot a device, run the system on it and look at what a person or another
// program could see. The system itself only ever sees the Win32 seam.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/host/clock.h"
#include "platform/host/device_error.h"
#include "platform/host/objects.h"
#include "platform/host/trace.h"

namespace host {

class RegistryStore;
class WindowManager;
class Shell;
class GpioBlock;
class PowerDevices;
class SerialPorts;
class Endpoint;
class DeviceFolder;
struct ResourceTable;

// The person at the handheld. Whichever message loop is innermost asks the user what happens
// next when it has nothing to do: a scripted user (tests, scenarios) presses OK, taps, waits; the
// default user is nobody, who acknowledges any message box so that nothing hangs unattended.
class User {
public:
    virtual ~User() = default;
    // Called with nothing queued and no timer due. Return true when the user did something
    // (the loop looks again at once), false to let time run on to the next timer.
    virtual bool Act() = 0;
};

struct BootOptions {
    std::string folder;         // device folder; empty: DefaultDeviceFolder()
    bool virtual_clock = true;  // tests and scenarios; the running program uses the real one
    std::string program = "";   // module name, as "Pelorn" for \Windows\Pelorn.exe; empty: this executable's
    const ResourceTable* resources = nullptr;  // the application module's resources
    bool private_folder = false;               // no other process opens the folder (a scenario's own device)
    bool resident = false;  // runs the system's loop: the registry commits a turn's writes before each wait
};

// PELORN_DEVICE, else $XDG_STATE_HOME/pelorn, else ~/.local/state/pelorn.
std::string DefaultDeviceFolder();

class Handheld {
public:
    // Switches the handheld on: opens (creating on first use) the device folder. Throws
    // DeviceError with a message naming the file at fault.
    static Handheld& Boot(const BootOptions& options);
    static Handheld* IfBooted();
    static Handheld& Current();
    // Switches it off again: every window, timer, open key and handle is gone.
    static void PowerOff();

    ~Handheld();
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    // The device folder's absolute path.
    const std::string& folder() const;
    const DeviceFolder& device_folder() const { return *folder_; }
    const std::string& program() const { return program_; }
    Clock& clock() { return *clock_; }
    Trace& trace() { return trace_; }
    Faults& faults() { return faults_; }
    RegistryStore& registry() { return *registry_; }
    WindowManager& windows() { return *windows_; }
    HandleTable& handles() { return handles_; }
    KeyTable& keys() { return keys_; }
    Shell& shell() { return *shell_; }
    GpioBlock& gpio() { return *gpio_; }
    PowerDevices& power() { return *power_; }
    SerialPorts& serial() { return *serial_; }
    // Where other processes deliver messages to our windows; null on the virtual clock, where
    // the device belongs to one process.
    Endpoint* endpoint() { return endpoint_.get(); }
    const ResourceTable* resources() const { return resources_; }

    // Each value the system reads with RegQueryValueEx into its buffer: the name as the system
    // spelt it and the bytes it got. A tool that must not miss a value another program set and
    // the system consumed (State_Chg) watches here rather than trace every read of every tick.
    using ValueReads = std::function<void(std::u16string_view name, const BYTE* data, DWORD size)>;
    void ObserveValueReads(ValueReads observer) { value_reads_ = std::move(observer); }
    const ValueReads& value_reads() const { return value_reads_; }

    User& user();
    // nullptr restores the default user.
    void SetUser(User* user) { user_ = user; }
    // Whether platform calls now are the device's own rather than the system's.
    bool quiet() const { return quiet_; }

private:
    explicit Handheld(const BootOptions& options);

    std::unique_ptr<DeviceFolder> folder_;
    std::string program_;
    std::unique_ptr<Clock> clock_;
    Trace trace_;
    Faults faults_;
    std::unique_ptr<RegistryStore> registry_;
    std::unique_ptr<WindowManager> windows_;
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<GpioBlock> gpio_;
    std::unique_ptr<PowerDevices> power_;
    std::unique_ptr<SerialPorts> serial_;
    std::unique_ptr<Endpoint> endpoint_;
    HandleTable handles_;
    KeyTable keys_;
    const ResourceTable* resources_ = nullptr;
    User* user_ = nullptr;
    ValueReads value_reads_;
    bool quiet_ = false;  // see QuietCalls
    friend class QuietCalls;
    friend class SystemCalls;
};

// The handheld's own platform calls (a driver reading its registry settings, the shell
// delivering a tap, whatever the person or another program does in the user's turn) are not the
// system's: while one of these lives they do not show in the trace, use up a fault a test has
// armed for the system, or change the system's last error. The window manager makes the user's
// turn and the endpoint's work quiet, and every call into the system's code loud again
// (SystemCalls), so that no tool has to remember either.
class QuietCalls {
public:
    explicit QuietCalls(Handheld& device) : device_(device), was_(device.quiet_), error_(GetLastError()) {
        device_.quiet_ = true;
    }
    ~QuietCalls() {
        device_.quiet_ = was_;
        SetLastError(error_);
    }
    QuietCalls(const QuietCalls&) = delete;
    QuietCalls& operator=(const QuietCalls&) = delete;

private:
    Handheld& device_;
    bool was_;
    DWORD error_;
};

// The system's code called by the device (a window procedure, a timer callback, the program's
// start): its calls are the system's, whoever caused them.
class SystemCalls {
public:
    explicit SystemCalls(Handheld& device) : device_(device), was_(device.quiet_) { device_.quiet_ = false; }
    ~SystemCalls() { device_.quiet_ = was_; }
    SystemCalls(const SystemCalls&) = delete;
    SystemCalls& operator=(const SystemCalls&) = delete;

private:
    Handheld& device_;
    bool was_;
};

}  // namespace host
