// One open "COMn:" port: the Win32 serial rules (read and write time-outs, the event mask and its
// wait, DTR and RTS, modem status) over a Line, with what the handheld keeps about the port.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/objects.h"
#include "platform/host/port_lock.h"
#include "platform/host/serial.h"
#include "platform/host/serial_line.h"

namespace host {

// What the handheld keeps about one port, open or not.
struct PortRecord {
    std::vector<PortWrite> writes;
    std::vector<LineChange> changes;
    bool dtr = false;
    bool rts = false;
    bool open = false;
};

// The ports' shared state: what SerialPorts reports, kept up to date by the open ports.
struct SerialPorts::State {
    explicit State(Clock& c) : clock(c) {}
    Clock& clock;
    std::map<int, PortRecord> ports;
    Millis wait_limit = kDefaultWaitLimit;
    Millis quiet_grace = kDefaultQuietGrace;
    std::shared_ptr<SimReceiver> receiver;

    void SetLine(int port, ModemLine line, bool on) {
        PortRecord& r = ports[port];
        bool& level = line == ModemLine::kDtr ? r.dtr : r.rts;
        if (level == on) return;
        level = on;
        r.changes.push_back({clock.Now(), line, on});
    }
};

// Each call applies the platform's rules and fails as the platform does (last error set).
class CommPort final : public FileDevice {
public:
    CommPort(std::shared_ptr<SerialPorts::State> state, int number, DWORD access, std::unique_ptr<Line> line,
             PortLock lock = PortLock());
    ~CommPort() override;
    BOOL Close() override;
    BOOL Read(void* buffer, DWORD size, DWORD* read) override;
    BOOL Write(const void* buffer, DWORD size, DWORD* written) override;
    BOOL GetState(DCB* dcb) const;
    BOOL SetState(const DCB& dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* t) const;
    BOOL SetTimeouts(const COMMTIMEOUTS& t);
    BOOL SetMask(DWORD mask);
    BOOL Wait(DWORD* events);
    BOOL Escape(DWORD func);
    BOOL ModemStatus(DWORD* status);

private:
    static BOOL Fail(DWORD error);
    Millis Now() const;
    void Pump();
    void SetLine(ModemLine line, bool on);
    void RaiseLines(bool on);

    std::shared_ptr<SerialPorts::State> state_;
    int number_;
    DWORD access_;
    std::unique_ptr<Line> line_;
    PortLock lock_;  // the port is ours on the whole device while it is open
    DCB dcb_;
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    std::string rx_;
    std::uint64_t arrived_ = 0;  // bytes that have reached the port since it was opened
    std::uint64_t mark_ = 0;     // arrived_ when the events were last reported or reset
    DWORD modem_mark_ = 0;
    Millis last_arrival_ = 0;
};

}  // namespace host
