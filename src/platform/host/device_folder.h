// The device folder: the one place where a device keeps its state.
//
// Other processes can reach into it, so nothing in it is trusted by name: the folder is held open
// and every file in it is opened relative to that, never through a symbolic link, and new files
// are made with O_EXCL. The folder must be the running user's and closed to other users' writes.
#pragma once

#include <sys/types.h>

#include <string>

namespace host {

class DeviceFolder {
public:
    // Opens the folder at `path` (relative paths are taken from the working directory), creating
    // it and its missing parents on first use; only a folder made here is set to 0700. Throws
    // DeviceError naming the folder when it is not a folder, belongs to another user, or group or
    // others may write to it.
    explicit DeviceFolder(const std::string& path);
    ~DeviceFolder();
    DeviceFolder(const DeviceFolder&) = delete;
    DeviceFolder& operator=(const DeviceFolder&) = delete;

    // The absolute path, for messages and for SQLite.
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

    // A folder of ours inside, made 0700 on first use; the caller closes the descriptor. Throws
    // DeviceError naming it when it is a link, not a folder, or another user's.
    int OpenFolder(const char* name) const;

    // Checks `name` (when it is there) as a file the device may open: a regular file, not a link,
    // of the running user, which it can read and write. Throws DeviceError naming it otherwise.
    // False when there is no such file.
    bool CheckFile(const std::string& name) const;

private:
    std::string path_;
    int fd_ = -1;
};

// Whether process `pid` still exists, for files named after their process.
bool ProcessAlive(pid_t pid);

}  // namespace host
