#include "platform/host/port_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"

namespace host {
namespace {

// ports/, or -1 when the folder cannot be had: then nobody is told of the port, as before.
int PortsFolder(const DeviceFolder& folder) {
    try {
        return folder.OpenFolder("ports");
    } catch (const DeviceError&) {
        return -1;
    }
}

std::string FileName(int port) { return "COM" + std::to_string(port) + ".lock"; }

// A record lock: whoever fails to take it learns from the kernel which process holds it. The
// lock goes with any descriptor of the file its process closes, and this process opens the file
// of a port only while it is not holding it (SerialPorts refuses a second open first).
pid_t Probe(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return 0;
    return probe.l_pid > 0 ? probe.l_pid : -1;
}

}  // namespace

PortLock::PortLock(const DeviceFolder& folder, int port) {
    int dir = PortsFolder(folder);
    if (dir < 0) return;
    fd_ = openat(dir, FileName(port).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    close(dir);
    if (fd_ < 0) return;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd_, F_SETLK, &lock) == 0) return;
    holder_ = Probe(fd_);
    if (!holder_) holder_ = -1;  // let go between the two calls: taken all the same a moment ago
    close(fd_);
    fd_ = -1;
}

PortLock::~PortLock() {
    if (fd_ >= 0) close(fd_);
}

PortLock& PortLock::operator=(PortLock&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) close(fd_);
        fd_ = o.fd_;
        holder_ = o.holder_;
        o.fd_ = -1;
    }
    return *this;
}

pid_t PortLock::Holder(const DeviceFolder& folder, int port) {
    int dir = PortsFolder(folder);
    if (dir < 0) return 0;
    int fd = openat(dir, FileName(port).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    close(dir);
    if (fd < 0) return 0;
    struct flock probe {};
    probe.l_type = F_RDLCK;  // a read-only descriptor may only ask about a lock it could take
    probe.l_whence = SEEK_SET;
    pid_t pid = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? (probe.l_pid > 0 ? probe.l_pid : -1) : 0;
    close(fd);
    return pid;
}

}  // namespace host
