#include "platform/host/device_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host/device_error.h"

namespace host {
namespace {

std::string Absolute(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (!path.empty() && path.front() == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        throw DeviceError("cannot tell where the device folder " + path + " is: " + std::strerror(errno));
    return std::string(cwd) + "/" + path;
}

std::string Mode(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

std::string NotOurs(const std::string& what, uid_t owner) {
    return what + " belongs to user " + std::to_string(owner) + ", and Pelorn runs as user " +
           std::to_string(geteuid()) + ", who uses only a device folder of their own";
}

}  // namespace

DeviceFolder::DeviceFolder(const std::string& given) : path_(Absolute(given)) {
    // Missing parents are made as mkdir -p would; the device folder itself is its owner's alone.
    bool made = false;
    for (std::size_t i = 1; i <= path_.size(); ++i) {
        if (i != path_.size() && path_[i] != '/') continue;
        bool last = i == path_.size();
        std::string part = path_.substr(0, i);
        if (mkdir(part.c_str(), last ? 0700 : 0755) == 0) {
            made = last;
        } else if (errno != EEXIST) {
            throw DeviceError("cannot create the device folder " + part + ": " + std::strerror(errno));
        }
    }
    fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw DeviceError("the device folder " + path_ + " cannot be opened: " + std::strerror(errno));
    struct stat st {};
    if (fstat(fd_, &st) != 0) st.st_uid = static_cast<uid_t>(-1);
    std::string error;
    if (st.st_uid != geteuid())
        error = NotOurs("the device folder " + path_, st.st_uid);
    else if (made && fchmod(fd_, 0700) != 0)
        error = "cannot make the device folder " + path_ + " its owner's alone: " + std::strerror(errno);
    else if (!made && (st.st_mode & 022))
        error = "the device folder " + path_ + " can be written by other users (mode " + Mode(st.st_mode) +
                "); give Pelorn a folder only its owner can write to";
    if (!error.empty()) {
        close(fd_);
        throw DeviceError(error);
    }
}

DeviceFolder::~DeviceFolder() {
    if (fd_ >= 0) close(fd_);
}

int DeviceFolder::OpenFolder(const char* name) const {
    std::string path = PathOf(name);
    if (mkdirat(fd_, name, 0700) != 0 && errno != EEXIST)
        throw DeviceError("cannot create the folder " + path + ": " + std::strerror(errno));
    int fd = openat(fd_, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            throw DeviceError(path + " is not a folder but a link or a file; the device folder holds no links");
        throw DeviceError("the folder " + path + " cannot be opened: " + std::strerror(errno));
    }
    struct stat st {};
    std::string error;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid())
        error = NotOurs("the folder " + path, st.st_uid);
    else if (st.st_mode & 022)
        error = "the folder " + path + " can be written by other users (mode " + Mode(st.st_mode) + ")";
    if (!error.empty()) {
        close(fd);
        throw DeviceError(error);
    }
    return fd;
}

bool DeviceFolder::CheckFile(const std::string& name) const {
    std::string path = PathOf(name);
    struct stat st {};
    if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return false;
        throw DeviceError("the file " + path + " cannot be examined: " + std::strerror(errno));
    }
    if (S_ISLNK(st.st_mode))
        throw DeviceError(path + " is a symbolic link; the device folder holds no links, remove it");
    if (!S_ISREG(st.st_mode)) throw DeviceError(path + " is not a file");
    if (st.st_uid != geteuid()) throw DeviceError(NotOurs("the file " + path, st.st_uid));
    if (faccessat(fd_, name.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
        throw DeviceError("the file " + path + " is read-only (mode " + Mode(st.st_mode) +
                          "); Pelorn needs to write it");
    return true;
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace host
