// A file written for a person, replaced whole or not at all: the bytes go to a temporary file
// beside it, which takes its place only once it is complete and on the disk.
#pragma once

#include <string>
#include <string_view>

namespace handheld {

class ReplacingFile {
public:
    // A target that exists and is not a regular file (a terminal, a pipe, /dev/null) is written
    // in place, as there is nothing to replace.
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();  // without Commit, the target is left as it was
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool Write(std::string_view bytes);
    bool Commit();
    // Why the file could not be written (strerror), once a call has failed.
    const std::string& error() const { return error_; }

private:
    bool Fail();

    std::string target_, temp_;
    int fd_ = -1;
    std::string error_;
};

}  // namespace handheld
