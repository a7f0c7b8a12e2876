// Other programs on a device, as real processes: the `handheld` command line run to its end, and
// `pelorn` running the system on the real clock.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelorn_test {

class Pty;

// The built executables (beside this test's build tree).
std::string HandheldExe();
std::string PelornExe();

struct Ran {
    int exit = -1;  // the exit status; -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs `handheld --new ARGS...` on the device in `folder` (PELORN_DEVICE) and waits for its end. `as_user` >= 0 runs
// it as that user (and group) id, which needs root; `file_size` >= 0 lets it write no file past
// that many bytes.
Ran Handheld(const std::string& folder, const std::vector<std::string>& args, int as_user = -1, long file_size = -1);

// Runs `exe ARGS...` as Handheld does; with no folder, exactly so, in the test's environment.
Ran Program(const std::string& exe, const std::vector<std::string>& args, const std::string& folder = "",
            int as_user = -1, long file_size = -1);

// `handheld ARGS...` as Handheld, on `terminal` as its standard input, output and error, as a
// person at it: `answer` and Enter are typed at the first question ("? "). `out` is all the
// terminal showed.
Ran HandheldAtTerminal(const std::string& folder, const std::vector<std::string>& args, Pty& terminal,
                       const std::string& answer);

// `pelorn --new ARGS...` on the device in `folder` (from `cwd` when given, as `as_user` as for Handheld),
// its output kept in <folder>.log.
class PelornProcess {
public:
    explicit PelornProcess(const std::string& folder, int as_user = -1, const std::string& cwd = "",
                           const std::vector<std::string>& args = {});
    ~PelornProcess();  // asks it to close (SIGTERM), then kills it if it does not
    PelornProcess(const PelornProcess&) = delete;
    PelornProcess& operator=(const PelornProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end of the process: its exit status, -1 when it did not exit normally.
    int Wait();
    std::string Output() const;

private:
    std::string log_;
    pid_t pid_ = -1;
};

// `handheld ARGS...` left running on the device in `folder`, as a receiver or any long command
// is: its standard output kept in `out`, its errors in `out`.err.
class HandheldProcess {
public:
    HandheldProcess(const std::string& folder, const std::vector<std::string>& args, const std::string& out);
    ~HandheldProcess();  // as Stop, then kills it if it does not end
    HandheldProcess(const HandheldProcess&) = delete;
    HandheldProcess& operator=(const HandheldProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Interrupts it (SIGINT, as Ctrl-C) and waits: its exit status, -1 when it did not exit normally.
    int Stop();
    // Kills it outright (SIGKILL), as a crash would, and waits for its end.
    void Kill();
    std::string Output() const;
    std::string Errors() const;

private:
    std::string out_;
    pid_t pid_ = -1;
};

// `handheld status` again and again until `ready` holds for it (that status), or `patience` has
// passed (empty).
std::optional<std::string> StatusWhen(const std::string& folder, const std::function<bool(const std::string&)>& ready,
                                      std::chrono::milliseconds patience);

// The number a JSON field such as "window" holds in `json`; empty when it is null or absent.
std::optional<long long> JsonNumber(const std::string& json, const std::string& field);

}  // namespace pelorn_test
