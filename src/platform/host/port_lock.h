// A serial port has one user at a time on the whole device, not only in one process: whoever
// opens "COMn:" holds a lock on ports/COMn.lock in the device folder until it closes the port, so
// that another program (the firmware read of the command line, a second system) finds the port
// taken, and who has it.
#pragma once

#include <sys/types.h>

namespace host {

class DeviceFolder;

class PortLock {
public:
    PortLock() = default;
    // Takes the lock of COM`port`; held() says whether it got it, holder() who has it if not.
    PortLock(const DeviceFolder& folder, int port);
    ~PortLock();
    PortLock(PortLock&& o) noexcept : fd_(o.fd_), holder_(o.holder_) { o.fd_ = -1; }
    PortLock& operator=(PortLock&& o) noexcept;
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    bool held() const { return holder_ == 0; }
    pid_t holder() const { return holder_; }

    // The process that has COM`port` open on the device, 0 when none does (this one never counts).
    static pid_t Holder(const DeviceFolder& folder, int port);

private:
    int fd_ = -1;
    pid_t holder_ = 0;
};

}  // namespace host
