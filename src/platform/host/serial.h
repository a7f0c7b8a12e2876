// Serial ports "COMn:": real devices and pseudo-terminals through termios, or the simulated receiver.
//
// The handheld's registry says what each port is: HKEY_LOCAL_MACHINE\Software\Handheld\Ports,
// value "COMn" (REG_SZ), a device path such as /dev/ttyUSB0 or /dev/pts/3, or "sim" for the
// built-in receiver; "COMnOwner" (REG_DWORD), when present, the process that keeps the path alive.
// A new device maps COM1 to "sim". A port without a mapping, whose owner has died, or whose path
// cannot be opened as a terminal, does not exist.
//
// Time on a port is the handheld's clock. A wait on the simulated receiver moves the virtual clock
// to the next byte. A wait on a real line blocks in poll(); on the virtual clock the time spent
// there is added to the clock, and a line that stays quiet for a short real grace period is taken
// to stay quiet until the wait's end, so quiet lines cost little real time in tests.
//
// WaitCommEvent blocks until a masked event, or until the port's wait limit has passed without
// one; it then succeeds reporting no event, which is what the platform reports when a wait is
// ended by a new event mask. Callers that must not wait forever rely on this.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/clock.h"
#include "platform/host/objects.h"
#include "platform/host/seam.h"

namespace host {

class RegistryStore;
class SimReceiver;

enum class ModemLine { kDtr, kRts };

// A change of an output line, by SetCommState's DTR and RTS control or by EscapeCommFunction.
struct LineChange {
    Millis t;
    ModemLine line;
    bool on;
};

// One WriteFile that reached the line.
struct PortWrite {
    Millis t;
    std::string bytes;
};

class SerialPorts {
public:
    static constexpr Millis kDefaultWaitLimit = 500;
    static constexpr Millis kDefaultQuietGrace = 250;  // real milliseconds, virtual clock only

    // The ports keep their mapping in `registry`; the simulated receiver talks while
    // `receiver_powered` says it has power.
    SerialPorts(Clock& clock, RegistryStore& registry, std::function<bool()> receiver_powered);
    ~SerialPorts();
    SerialPorts(const SerialPorts&) = delete;
    SerialPorts& operator=(const SerialPorts&) = delete;

    // Writes the registry mapping of COM`port`: a device path, or "sim". An `owner` (a process
    // id, written beside it as COMnOwner) keeps the path alive: once it has died the port does
    // not exist, so a terminal number handed to another program is never opened as this port.
    void Map(int port, const std::string& path, long owner = 0);
    // Removes the mapping: the port no longer exists.
    void Unmap(int port);
    // The mapping, empty when there is none or its owner has died.
    std::string Mapping(int port) const;
    // The process the mapping names as its owner; 0 for none.
    long Owner(int port) const;

    // What reached the line of COM`port` since the handheld was switched on, write by write.
    std::vector<PortWrite> Writes(int port) const;
    // The same bytes run together.
    std::string Written(int port) const;
    // DTR and RTS changes of COM`port`, in order. Opening a port raises both lines, closing it
    // drops them.
    std::vector<LineChange> LineChanges(int port) const;
    // The lines' levels now.
    bool Dtr(int port) const;
    bool Rts(int port) const;
    // Whether a handle to COM`port` is open.
    bool IsOpen(int port) const;
    // The other process on the device that has COM`port` open; 0 when none has (or only this one);
    // -1 when one has and which cannot be told.
    pid_t OpenElsewhere(int port) const;

    // The longest a WaitCommEvent blocks without an event.
    void SetWaitLimit(Millis ms);
    Millis wait_limit() const;
    // On the virtual clock: how long (real time) a real line must stay quiet before the rest of a
    // wait is skipped.
    void SetQuietGrace(Millis real_ms);

    // The receiver behind ports mapped to "sim".
    SimReceiver& receiver();

    // CreateFile's side: opens "COMn:" or reports why not (ERROR_FILE_NOT_FOUND, or
    // ERROR_ACCESS_DENIED when the port is open already, here or in another process on the device).
    struct State;
    std::shared_ptr<FileDevice> Open(int port, DWORD access, DWORD* error);

private:
    Clock& clock_;
    RegistryStore& registry_;
    std::shared_ptr<State> state_;
};

}  // namespace host
