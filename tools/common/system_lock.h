// One Pelorn per device: the process that runs the system holds a lock on pelorn.lock in the
// device folder for its whole life, with its process id written in it. A second Pelorn on the
// same device would publish its own window over the first one's in GPSHDL and leave other programs
// talking to a window that is gone once it stops; it finds the lock taken and stops first.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/host/device_folder.h"

namespace tools {

class SystemLock {
public:
    // Takes the lock of the device in `folder`, or tells who holds it. Throws host::DeviceError
    // when the lock file cannot be used at all.
    explicit SystemLock(const host::DeviceFolder& folder);
    ~SystemLock();  // empties the file and lets the lock go
    SystemLock(const SystemLock&) = delete;
    SystemLock& operator=(const SystemLock&) = delete;

    bool held() const { return holder_ == 0; }
    // The process that holds it when this one could not take it; -1 when that cannot be told.
    pid_t holder() const { return holder_; }

private:
    int fd_ = -1;
    pid_t holder_ = 0;
};

}  // namespace tools
