#include "common/system_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/host/handheld.h"

namespace tools {
namespace {

constexpr char kLockFile[] = "pelorn.lock";

// The holder as the kernel knows it; the number written in the file where it cannot tell (a
// holder in another process id namespace).
pid_t Holder(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) return probe.l_pid;
    char text[32] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? static_cast<pid_t>(pid) : -1;
}

}  // namespace

// A record lock rather than flock(): the kernel tells whoever fails to take it which process holds
// it, so the refusal names the right process even while the holder has not written its number yet.
// Record locks go with any descriptor of the file the process closes: nothing else here opens it.
SystemLock::SystemLock(const host::DeviceFolder& folder) {
    fd_ = openat(folder.fd(), kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) throw host::DeviceError("cannot open " + folder.PathOf(kLockFile) + ": " + std::strerror(errno));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd_, F_SETLK, &lock) != 0) {
        if (errno != EACCES && errno != EAGAIN) {
            int error = errno;
            close(fd_);
            fd_ = -1;
            throw host::DeviceError("cannot lock " + folder.PathOf(kLockFile) + ": " + std::strerror(error));
        }
        holder_ = Holder(fd_);
        close(fd_);
        fd_ = -1;
        return;
    }
    // For a person who looks: the number of the process that runs the system.
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd_, 0) != 0 || pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the note is missing.
    }
}

SystemLock::~SystemLock() {
    if (fd_ < 0) return;
    if (ftruncate(fd_, 0) != 0) {
        // A stale number is harmless: only a held lock counts.
    }
    close(fd_);
}

}  // namespace tools
