#include "handheld/reg/replacing_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace handheld {
namespace {

std::string Folder(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
    struct stat st {};
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        fd_ = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0) Fail();
        return;
    }
    // A link is followed: the file it names is the one replaced.
    if (exists) {
        char real[PATH_MAX];
        if (realpath(target.c_str(), real)) target_ = real;
    }
    std::string name = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    temp_ = Folder(target_) + "/." + name + ".XXXXXX";
    fd_ = mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        temp_.clear();
        Fail();
        return;
    }
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd_, mode);
}

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool ReplacingFile::Fail() {
    if (error_.empty()) error_ = std::strerror(errno);
    return false;
}

bool ReplacingFile::Write(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail();
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (fd_ < 0) return false;
    if (temp_.empty()) return close(std::exchange(fd_, -1)) == 0 || Fail();
    if (fsync(fd_) != 0) return Fail();
    if (close(std::exchange(fd_, -1)) != 0) return Fail();
    if (rename(temp_.c_str(), target_.c_str()) != 0) return Fail();
    temp_.clear();
    int dir = open(Folder(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace handheld
