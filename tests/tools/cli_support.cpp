#include "tools/cli_support.h"

#include "support/pty.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pelorn_test {
namespace {

// A test's device is a new one, so both programs are told they may make it (--new). Without a
// folder, the program runs exactly as given, in the test's environment.
[[noreturn]] void Exec(const std::string& exe, const std::vector<std::string>& args, const std::string& folder) {
    std::vector<std::string> words;
    std::istringstream emulator(PELORN_EMULATOR);
    for (std::string w; emulator >> w;)
        words.push_back(w);
    words.push_back(exe);
    if (!folder.empty()) words.push_back("--new");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    if (!folder.empty()) setenv("PELORN_DEVICE", folder.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

void BecomeUser(int as_user) {
    if (as_user >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(as_user)) != 0 ||
                         setuid(static_cast<uid_t>(as_user)) != 0))
        _exit(126);
}

}  // namespace

std::string HandheldExe() { return HANDHELD_EXE; }

std::string PelornExe() { return PELORN_EXE; }

Ran Program(const std::string& exe, const std::vector<std::string>& args, const std::string& folder, int as_user,
            long file_size) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        BecomeUser(as_user);
        // Writing past the limit then fails (EFBIG) as on a full disk, rather than killing it.
        rlimit limit{static_cast<rlim_t>(file_size), static_cast<rlim_t>(file_size)};
        if (file_size >= 0 && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0)) _exit(126);
        Exec(exe, args, folder);
    }
    close(out[1]);
    close(err[1]);
    Ran ran;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&ran.out, &ran.err};
    for (int open = 2; open > 0;) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                into[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ran.exit = ExitStatus(status);
    return ran;
}

Ran Handheld(const std::string& folder, const std::vector<std::string>& args, int as_user, long file_size) {
    return Program(HandheldExe(), args, folder, as_user, file_size);
}

Ran HandheldAtTerminal(const std::string& folder, const std::vector<std::string>& args, Pty& terminal,
                       const std::string& answer) {
    const std::size_t from = terminal.Heard(0, std::chrono::milliseconds(0)).size();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int tty = open(terminal.path().c_str(), O_RDWR);
        if (tty < 0 || dup2(tty, 0) < 0 || dup2(tty, 1) < 0 || dup2(tty, 2) < 0) _exit(126);
        Exec(HandheldExe(), args, folder);
    }
    int status = 0;
    for (bool asked = answer.empty(); waitpid(pid, &status, WNOHANG) == 0;) {
        std::string heard = terminal.Heard(terminal.Heard().size() + 1, std::chrono::milliseconds(20));
        if (!asked && (asked = heard.find("? ", from) != std::string::npos))
            terminal.Talk(answer + "\n", std::chrono::microseconds(100));
    }
    return Ran{ExitStatus(status), terminal.Heard().substr(from), ""};
}

PelornProcess::PelornProcess(const std::string& folder, int as_user, const std::string& cwd,
                             const std::vector<std::string>& args)
    : log_((cwd.empty() || folder[0] == '/' ? "" : cwd + "/") + folder + ".log") {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (!freopen(log_.c_str(), "w", stdout) || !freopen(log_.c_str(), "a", stderr)) _exit(126);
        BecomeUser(as_user);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        Exec(PelornExe(), args, folder);
    }
}

PelornProcess::~PelornProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int PelornProcess::Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return ExitStatus(status);
}

std::string PelornProcess::Output() const {
    std::ifstream in(log_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

HandheldProcess::HandheldProcess(const std::string& folder, const std::vector<std::string>& args,
                                 const std::string& out)
    : out_(out) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (!freopen(out_.c_str(), "w", stdout) || !freopen((out_ + ".err").c_str(), "w", stderr)) _exit(126);
        Exec(HandheldExe(), args, folder);
    }
}

HandheldProcess::~HandheldProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int HandheldProcess::Stop() {
    int status = 0;
    kill(pid_, SIGINT);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return ExitStatus(status);
}

void HandheldProcess::Kill() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string HandheldProcess::Output() const { return Contents(out_); }

std::string HandheldProcess::Errors() const { return Contents(out_ + ".err"); }

std::optional<std::string> StatusWhen(const std::string& folder, const std::function<bool(const std::string&)>& ready,
                                      std::chrono::milliseconds patience) {
    auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        Ran status = Handheld(folder, {"status", "--json"});
        if (status.exit == 0 && ready(status.out)) return status.out;
        if (std::chrono::steady_clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

std::optional<long long> JsonNumber(const std::string& json, const std::string& field) {
    std::string key = "\"" + field + "\":";
    std::size_t at = json.find(key);
    if (at == std::string::npos) return std::nullopt;
    const char* start = json.c_str() + at + key.size();
    char* end = nullptr;
    long long v = std::strtoll(start, &end, 10);
    if (end == start) return std::nullopt;
    return v;
}

}  // namespace pelorn_test
