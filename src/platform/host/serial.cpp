// The handheld's serial ports: which line each "COMn:" is (the registry's mapping), and what
// reached and left each port.
#include "platform/host/serial.h"

#include <unistd.h>

#include <algorithm>

#include "platform/host/comm_port.h"
#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "platform/host/sim_receiver.h"

namespace host {
namespace {

constexpr char16_t kPortsKey[] = u"Software\\Handheld\\Ports";

std::u16string ValueName(int port) {
    std::u16string name = u"COM";
    for (char c : std::to_string(port))
        name += static_cast<char16_t>(c);
    return name;
}

// The process that keeps the mapping's terminal alive, when it gave one.
std::u16string OwnerName(int port) { return ValueName(port) + u"Owner"; }

}  // namespace

SerialPorts::SerialPorts(Clock& clock, RegistryStore& registry, std::function<bool()> receiver_powered)
    : clock_(clock), registry_(registry), state_(std::make_shared<State>(clock)) {
    state_->receiver = std::make_shared<SimReceiver>(std::move(receiver_powered), clock.Now());
}

SerialPorts::~SerialPorts() = default;

namespace {

std::vector<BYTE> PathValue(const std::string& path) { return StringData(json::Utf16(path)); }

// The Ports key, created on the first change of the mapping. Once it exists only its values
// count, so a new key starts with the factory's wiring written out.
RegKeyId PortsKey(RegistryStore& reg) {
    RegKeyId key = 0;
    bool created = false;
    if (reg.CreateKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), kPortsKey, &key, &created) != ERROR_SUCCESS)
        throw DeviceError("cannot write the serial port mapping to " + reg.file());
    if (created) {
        std::vector<BYTE> sim = PathValue("sim");
        if (reg.SetValue(key, ValueName(1), REG_SZ, sim.data(), sim.size()) != ERROR_SUCCESS)
            throw DeviceError("cannot write the serial port mapping to " + reg.file());
    }
    return key;
}

}  // namespace

// The registry is read and written through the store, not the seam: these are the device's own
// reads, which neither the trace nor injected faults may see.
void SerialPorts::Map(int port, const std::string& path, long owner) {
    RegistryStore& reg = registry_;
    RegKeyId key = PortsKey(reg);
    std::vector<BYTE> data = PathValue(path);
    LONG r = reg.SetValue(key, ValueName(port), REG_SZ, data.data(), data.size());
    if (r == ERROR_SUCCESS && owner > 0) {
        std::vector<BYTE> pid = DwordData(static_cast<DWORD>(owner));
        r = reg.SetValue(key, OwnerName(port), REG_DWORD, pid.data(), pid.size());
    } else if (r == ERROR_SUCCESS) {
        r = reg.DeleteValue(key, OwnerName(port));
        if (r == ERROR_FILE_NOT_FOUND) r = ERROR_SUCCESS;
    }
    if (r != ERROR_SUCCESS) throw DeviceError("cannot write the serial port mapping to " + reg.file());
}

void SerialPorts::Unmap(int port) {
    RegistryStore& reg = registry_;
    RegKeyId key = PortsKey(reg);
    for (const std::u16string& name : {ValueName(port), OwnerName(port)}) {
        LONG r = reg.DeleteValue(key, name);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            throw DeviceError("cannot write the serial port mapping to " + reg.file());
    }
}

// A device whose ports were never mapped has the factory's wiring: the simulated receiver on
// COM1 and nothing else. Once the Ports key exists, only its values count. A terminal whose owner
// has died is gone with it, though its number may already serve another program: no mapping.
std::string SerialPorts::Mapping(int port) const {
    RegistryStore& reg = registry_;
    RegKeyId key = 0;
    RegValue value;
    if (reg.OpenKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), kPortsKey, &key) == ERROR_FILE_NOT_FOUND)
        return port == 1 ? "sim" : "";
    if (reg.GetValue(key, ValueName(port), &value) != ERROR_SUCCESS ||
        (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
        return {};
    long owner = Owner(port);
    if (owner > 0 && owner != static_cast<long>(getpid()) && !ProcessAlive(static_cast<pid_t>(owner))) return {};
    return json::Utf8(StringOf(value.data));
}

long SerialPorts::Owner(int port) const {
    RegistryStore& reg = registry_;
    RegKeyId key = 0;
    RegValue value;
    if (reg.OpenKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), kPortsKey, &key) != ERROR_SUCCESS ||
        reg.GetValue(key, OwnerName(port), &value) != ERROR_SUCCESS || value.type != REG_DWORD)
        return 0;
    return static_cast<long>(DwordOf(value.data).value_or(0));
}

std::vector<PortWrite> SerialPorts::Writes(int port) const {
    auto it = state_->ports.find(port);
    return it == state_->ports.end() ? std::vector<PortWrite>{} : it->second.writes;
}

std::string SerialPorts::Written(int port) const {
    std::string out;
    for (const PortWrite& w : Writes(port))
        out += w.bytes;
    return out;
}

std::vector<LineChange> SerialPorts::LineChanges(int port) const {
    auto it = state_->ports.find(port);
    return it == state_->ports.end() ? std::vector<LineChange>{} : it->second.changes;
}

bool SerialPorts::Dtr(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.dtr;
}

bool SerialPorts::Rts(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.rts;
}

bool SerialPorts::IsOpen(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.open;
}

pid_t SerialPorts::OpenElsewhere(int port) const {
    // Asking about a lock this process holds would let it go (PortLock).
    Handheld* device = Handheld::IfBooted();
    if (IsOpen(port) || !device) return 0;
    return PortLock::Holder(device->device_folder(), port);
}

void SerialPorts::SetWaitLimit(Millis ms) { state_->wait_limit = std::max<Millis>(ms, 0); }
Millis SerialPorts::wait_limit() const { return state_->wait_limit; }
void SerialPorts::SetQuietGrace(Millis real_ms) { state_->quiet_grace = std::max<Millis>(real_ms, 0); }
SimReceiver& SerialPorts::receiver() { return *state_->receiver; }

std::shared_ptr<FileDevice> SerialPorts::Open(int port, DWORD access, DWORD* error) {
    std::string path = Mapping(port);
    if (path.empty()) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (IsOpen(port)) {
        *error = ERROR_ACCESS_DENIED;  // a serial port has one user at a time
        return nullptr;
    }
    Handheld* device = Handheld::IfBooted();
    PortLock lock = device ? PortLock(device->device_folder(), port) : PortLock();
    if (!lock.held()) {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    std::unique_ptr<Line> line;
    if (path == "sim")
        line = MakeSimLine(state_->receiver, clock_);
    else
        line = OpenTtyLine(path, clock_, &state_->quiet_grace);
    if (!line) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return std::make_shared<CommPort>(state_, port, access, std::move(line), std::move(lock));
}

std::shared_ptr<FileDevice> OpenSerialDevice(const std::u16string& name, DWORD access, DWORD* error) {
    // "COMn:", as the device namespace has checked.
    return Handheld::Current().serial().Open(name[3] - u'0', access, error);
}

}  // namespace host
