#include "platform/host/endpoint.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/windows.h"

namespace host {
namespace {

std::string WindowName(HWND window) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(window)));
    return name;
}

// A socket in a folder held open, addressed through that descriptor: short whatever the path.
bool FillAddress(int folder, const std::string& name, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    int n = std::snprintf(address->sun_path, sizeof address->sun_path, "/proc/self/fd/%d/%s", folder, name.c_str());
    return n > 0 && static_cast<std::size_t>(n) < sizeof address->sun_path;
}

// "<pid><suffix>": the pid, or 0 when the text is no such name of ours.
pid_t NameOwner(const std::string& name, const char* suffix) {
    char* end = nullptr;
    long pid = std::strtol(name.c_str(), &end, 10);
    return end != name.c_str() && std::strcmp(end, suffix) == 0 && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// "<pid>.sock": the pid, or 0 when the text is no socket name of ours.
pid_t SocketOwner(const std::string& name) { return NameOwner(name, ".sock"); }

// "<pid>.answers": a process that answers queries.
pid_t AnswersOwner(const std::string& name) { return NameOwner(name, ".answers"); }

std::string AnswersName() { return std::to_string(getpid()) + ".answers"; }

// The text of a window's file in windows/, read without following a link.
std::string ReadName(int windows, const char* file) {
    char text[64];
    int fd = openat(windows, file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    return n > 0 && n < static_cast<ssize_t>(sizeof text) ? std::string(text, static_cast<std::size_t>(n)) : "";
}

void Reply(int connection, DWORD error, LRESULT result) {
    WireReply reply{kWireMagic, error, static_cast<std::int64_t>(result)};
    ssize_t sent = send(connection, &reply, sizeof reply, MSG_NOSIGNAL);
    (void)sent;  // a sender that went away does not want the answer
}

// Answers the sender waiting on `connection`, which is done with then.
void Answer(int connection, DWORD error, LRESULT result) {
    Reply(connection, error, result);
    close(connection);
}

}  // namespace

bool MayComeFromAnotherProcess(UINT msg) {
    return msg == WM_NULL || msg == WM_CLOSE || msg == WM_COMMAND || (msg >= WM_USER && msg <= 0xFFFF);
}

DWORD DecodeRequest(const void* datagram, std::size_t size, PeerRequest* request) {
    WireRequest wire{};
    if (size != sizeof wire) return ERROR_INVALID_PARAMETER;
    std::memcpy(&wire, datagram, sizeof wire);
    if (wire.magic != kWireMagic || wire.version != kWireVersion ||
        (wire.kind != kWireSend && wire.kind != kWirePost && wire.kind != kWireQuery))
        return ERROR_INVALID_PARAMETER;
    if (wire.kind != kWireQuery && !MayComeFromAnotherProcess(wire.msg)) return ERROR_ACCESS_DENIED;
    *request = PeerRequest{static_cast<WireKind>(wire.kind), reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wire.hwnd)),
                           wire.msg, static_cast<WPARAM>(wire.wparam), static_cast<LPARAM>(wire.lparam)};
    return ERROR_SUCCESS;
}

Endpoint::Endpoint(Handheld& device) : device_(device) {
    const DeviceFolder& folder = device.device_folder();
    try {
        run_ = folder.OpenFolder("run");
        windows_ = folder.OpenFolder("windows");
        RemoveLeftovers();
        socket_ = std::to_string(getpid()) + ".sock";
        const std::string path = folder.PathOf("run/" + socket_);
        sockaddr_un address{};
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (listener_ < 0 || timer_ < 0) throw DeviceError("cannot listen on " + path + ": " + std::strerror(errno));
        unlinkat(run_, socket_.c_str(), 0);  // a dead process of the same id left it
        mode_t old = umask(0077);
        int bound = FillAddress(run_, socket_, &address)
                        ? bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address)
                        : -1;
        umask(old);
        if (bound != 0 || listen(listener_, 128) != 0)
            throw DeviceError("cannot listen on " + path + ": " + std::strerror(errno));
    } catch (...) {
        Close();
        throw;
    }
    device_.windows().AddWakeSource(listener_, [this] { Accept(); });
    device_.windows().AddWakeSource(timer_, [this] { Expire(); });
}

Endpoint::~Endpoint() { Close(); }

void Endpoint::Close() {
    for (const auto& [connection, unused] : pending_)
        close(connection);
    pending_.clear();
    if (listener_ >= 0) {
        device_.windows().RemoveWakeSource(listener_);
        close(listener_);
        unlinkat(run_, socket_.c_str(), 0);
        listener_ = -1;
    }
    if (timer_ >= 0) {
        device_.windows().RemoveWakeSource(timer_);
        close(timer_);
        timer_ = -1;
    }
    if (answer_ && run_ >= 0) unlinkat(run_, AnswersName().c_str(), 0);
    for (int* fd : {&run_, &windows_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

// Sockets and window names of processes that were killed: nobody else removes them.
void Endpoint::RemoveLeftovers() {
    for (int folder : {run_, windows_}) {
        int fd = dup(folder);
        DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0) close(fd);
            continue;
        }
        std::vector<std::string> gone;
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            pid_t owner = folder == run_ ? SocketOwner(e->d_name) | AnswersOwner(e->d_name)
                                         : SocketOwner(ReadName(folder, e->d_name));
            if (owner && owner != getpid() && !ProcessAlive(owner)) gone.push_back(e->d_name);
        }
        closedir(dir);
        for (const std::string& name : gone)
            unlinkat(folder, name.c_str(), 0);
    }
}

void Endpoint::AnswerQueries(QueryHandler handler) {
    const bool answers = static_cast<bool>(handler);
    answer_ = std::move(handler);
    if (!answers) {
        unlinkat(run_, AnswersName().c_str(), 0);
        return;
    }
    int fd = openat(run_, AnswersName().c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
}

bool Endpoint::Publish(HWND window) {
    const std::string file = WindowName(window);
    const std::string temp = file + ".new";
    // Made new, never opened through whatever somebody left under that name.
    int fd = openat(windows_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST && unlinkat(windows_, temp.c_str(), 0) == 0)
        fd = openat(windows_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, socket_.data(), socket_.size()) == static_cast<ssize_t>(socket_.size());
    close(fd);
    if (ok && renameat(windows_, temp.c_str(), windows_, file.c_str()) == 0) return true;
    unlinkat(windows_, temp.c_str(), 0);
    return false;
}

void Endpoint::Withdraw(HWND window) { unlinkat(windows_, WindowName(window).c_str(), 0); }

void Endpoint::Accept() {
    for (;;) {
        int connection = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) break;
        // Only the device owner's processes may deliver messages.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
            Reply(connection, ERROR_ACCESS_DENIED, 0);
            close(connection);
            continue;
        }
        if (pending_.size() >= kMaxPendingConnections) {
            // The process holding the most connections gives up its oldest.
            std::map<pid_t, int> held;
            for (const auto& [c, p] : pending_)
                ++held[p.peer];
            int victim = -1;
            for (const auto& [c, p] : pending_) {
                const Pending* v = victim < 0 ? nullptr : &pending_.at(victim);
                if (!v || held[p.peer] > held[v->peer] || (held[p.peer] == held[v->peer] && p.turn < v->turn))
                    victim = c;
            }
            Drop(victim, ERROR_BUSY);
        }
        pending_[connection] = Pending{peer.pid, device_.clock().Now(), ++turns_};
        device_.windows().AddWakeSource(connection, [this, connection] { Serve(connection); });
        Serve(connection);  // the request is usually there already
    }
    ArmTimer();
}

void Endpoint::Drop(int connection, DWORD error) {
    Reply(connection, error, 0);
    device_.windows().RemoveWakeSource(connection);
    pending_.erase(connection);
    close(connection);
}

void Endpoint::Expire() {
    std::uint64_t expirations = 0;
    ssize_t n = read(timer_, &expirations, sizeof expirations);
    (void)n;
    Millis now = device_.clock().Now();
    std::vector<int> late;
    for (const auto& [connection, p] : pending_)
        if (now - p.since >= kRequestTimeoutMs) late.push_back(connection);
    for (int connection : late)
        Drop(connection, ERROR_TIMEOUT);
    ArmTimer();
}

void Endpoint::ArmTimer() {
    itimerspec when{};
    if (!pending_.empty()) {
        Millis oldest = pending_.begin()->second.since;
        for (const auto& [connection, p] : pending_)
            oldest = std::min<Millis>(oldest, p.since);
        Millis left = std::max<Millis>(1, oldest + kRequestTimeoutMs - device_.clock().Now());
        when.it_value.tv_sec = left / 1000;
        when.it_value.tv_nsec = (left % 1000) * 1000000;
    }
    timerfd_settime(timer_, 0, &when, nullptr);
}

void Endpoint::Serve(int connection) {
    if (!pending_.count(connection)) return;
    WireRequest datagram{};
    ssize_t n = recv(connection, &datagram, sizeof datagram, MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // not yet
    // Answered or not, the connection is done with: one request each.
    pending_.erase(connection);
    device_.windows().RemoveWakeSource(connection);
    PeerRequest request{};
    DWORD refused = n > 0 ? DecodeRequest(&datagram, static_cast<std::size_t>(n), &request) : ERROR_INVALID_PARAMETER;
    if (refused != ERROR_SUCCESS) {
        if (n > 0) Reply(connection, refused, 0);
        close(connection);
        return;
    }
    if (observe_ && request.kind != kWireQuery) {
        ucred peer{};
        socklen_t size = sizeof peer;
        observe_(request, getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : 0);
    }
    if (request.kind == kWireSend) {
        device_.windows().SentFromOtherProcess(
            request.window, request.msg, request.wparam, request.lparam,
            [connection](DWORD error, LRESULT result) { Answer(connection, error, result); });
        return;
    }
    if (request.kind == kWireQuery) {
        std::optional<std::string> text = answer_ ? answer_(request.msg) : std::nullopt;
        Reply(connection, text ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED, text ? static_cast<LRESULT>(text->size()) : 0);
        ssize_t sent = text ? send(connection, text->data(), text->size(), MSG_NOSIGNAL) : 0;
        (void)sent;
        close(connection);
        return;
    }
    DWORD error = ERROR_SUCCESS;
    device_.windows().PostedFromOtherProcess(request.window, request.msg, request.wparam, request.lparam, &error);
    Answer(connection, error, 0);
}

int ConnectToOwner(const std::string& folder, HWND window) {
    int device = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (device < 0) return -1;
    int windows = openat(device, "windows", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int run = openat(device, "run", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(device);
    std::string name = windows >= 0 ? ReadName(windows, WindowName(window).c_str()) : "";
    sockaddr_un address{};
    int s = -1;
    if (run >= 0 && SocketOwner(name) && FillAddress(run, name, &address)) {
        s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        // A window of a process that is gone: its socket refuses.
        if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(s);
            s = -1;
        }
    }
    for (int fd : {windows, run})
        if (fd >= 0) close(fd);
    return s;
}

namespace {

bool Exchange(int s, const WireRequest& request, WireReply* reply) {
    return send(s, &request, sizeof request, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request) &&
           recv(s, reply, sizeof *reply, 0) == static_cast<ssize_t>(sizeof *reply) && reply->magic == kWireMagic;
}

WireRequest Request(WireKind kind, HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
    return WireRequest{kWireMagic,
                       kWireVersion,
                       static_cast<std::uint16_t>(kind),
                       static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(window)),
                       msg,
                       static_cast<std::uint64_t>(wparam),
                       static_cast<std::int64_t>(lparam)};
}

}  // namespace

bool DeliverToOtherProcess(const std::string& folder, HWND window, UINT msg, WPARAM wparam, LPARAM lparam, bool wait,
                           LRESULT* result, DWORD* error) {
    *result = 0;
    *error = ERROR_INVALID_WINDOW_HANDLE;
    int s = ConnectToOwner(folder, window);
    if (s < 0) return false;
    WireReply reply{};
    bool ok = Exchange(s, Request(wait ? kWireSend : kWirePost, window, msg, wparam, lparam), &reply);
    close(s);
    if (!ok) return false;  // the owner went away while handling it
    *error = reply.error;
    *result = static_cast<LRESULT>(reply.result);
    return reply.error == ERROR_SUCCESS;
}

std::optional<std::string> QueryOtherProcess(const std::string& folder, HWND window, UINT what) {
    int s = ConnectToOwner(folder, window);
    if (s < 0) return std::nullopt;
    WireReply reply{};
    std::optional<std::string> text;
    if (Exchange(s, Request(kWireQuery, window, what, 0, 0), &reply) && reply.error == ERROR_SUCCESS &&
        reply.result >= 0 && reply.result < (1 << 20)) {
        std::string received(static_cast<std::size_t>(reply.result), '\0');
        ssize_t n = received.empty() ? 0 : recv(s, received.data(), received.size(), MSG_WAITALL);
        if (n == static_cast<ssize_t>(received.size())) text = std::move(received);
    }
    close(s);
    return text;
}

namespace {

// The folders run/ and windows/ of the device in `folder`, held open; -1 where missing.
struct PeerFolders {
    int run = -1, windows = -1;
    explicit PeerFolders(const std::string& folder) {
        int device = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (device < 0) return;
        windows = openat(device, "windows", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        run = openat(device, "run", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(device);
    }
    ~PeerFolders() {
        for (int fd : {run, windows})
            if (fd >= 0) close(fd);
    }
};

}  // namespace

std::vector<pid_t> AnsweringProcesses(const std::string& folder) {
    PeerFolders peers(folder);
    std::vector<pid_t> found;
    int fd = peers.run >= 0 ? dup(peers.run) : -1;
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) close(fd);
        return found;
    }
    while (dirent* e = readdir(dir)) {
        pid_t pid = AnswersOwner(e->d_name);
        if (pid && pid != getpid() && ProcessAlive(pid)) found.push_back(pid);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

pid_t WindowOwner(const std::string& folder, HWND window) {
    PeerFolders peers(folder);
    pid_t pid = peers.windows >= 0 ? SocketOwner(ReadName(peers.windows, WindowName(window).c_str())) : 0;
    return pid && ProcessAlive(pid) ? pid : 0;
}

std::optional<std::string> QueryProcess(const std::string& folder, pid_t pid, UINT what, int slice_ms,
                                        const std::function<bool(int waited_ms)>& wait_on) {
    PeerFolders peers(folder);
    sockaddr_un address{};
    if (peers.run < 0 || !FillAddress(peers.run, std::to_string(pid) + ".sock", &address)) return std::nullopt;
    int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0) return std::nullopt;
    std::optional<std::string> text;
    const WireRequest request = Request(kWireQuery, nullptr, what, 0, 0);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(s, &request, sizeof request, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof request)) {
        bool ready = false;
        for (int waited = 0;;) {
            pollfd p{s, POLLIN, 0};
            int n = poll(&p, 1, slice_ms);
            if (n < 0 && errno == EINTR) continue;
            if (n != 0) {
                ready = true;
                break;
            }
            waited += slice_ms;
            if (!wait_on(waited)) break;
        }
        WireReply reply{};
        if (ready && recv(s, &reply, sizeof reply, 0) == static_cast<ssize_t>(sizeof reply) &&
            reply.magic == kWireMagic && reply.error == ERROR_SUCCESS && reply.result >= 0 &&
            reply.result < (1 << 20)) {
            std::string received(static_cast<std::size_t>(reply.result), '\0');
            ssize_t n = received.empty() ? 0 : recv(s, received.data(), received.size(), MSG_WAITALL);
            if (n == static_cast<ssize_t>(received.size())) text = std::move(received);
        }
    }
    close(s);
    return text;
}

}  // namespace host
