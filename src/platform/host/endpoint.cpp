#include "platform/host/endpoint.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host/handheld.h"
#include "platform/host/windows.h"

namespace host {
namespace {

std::string WindowFile(const std::string& folder, HWND window) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(window)));
    return folder + "/windows/" + name;
}

bool MakeOwnerFolder(const std::string& path) { return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

bool FillAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size());
    return true;
}

void Reply(int connection, DWORD error, LRESULT result) {
    WireReply reply{kWireMagic, error, static_cast<std::int64_t>(result)};
    ssize_t sent = send(connection, &reply, sizeof reply, MSG_NOSIGNAL);
    (void)sent;  // a sender that went away does not want the answer
}

}  // namespace

Endpoint::Endpoint(Handheld& device) : device_(device) {}

Endpoint::~Endpoint() {
    for (const auto& [connection, unused] : pending_)
        close(connection);
    if (listener_ >= 0) {
        close(listener_);
        unlink(socket_path_.c_str());
    }
}

void Endpoint::Open() {
    const std::string& folder = device_.folder();
    if (!MakeOwnerFolder(folder + "/run") || !MakeOwnerFolder(folder + "/windows")) return;
    socket_path_ = folder + "/run/" + std::to_string(getpid()) + ".sock";
    sockaddr_un address{};
    if (!FillAddress(socket_path_, &address)) return;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    unlink(socket_path_.c_str());  // a dead process of the same id left it
    mode_t old = umask(0077);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(old);
    if (bound != 0 || listen(fd, 128) != 0) {
        close(fd);
        return;
    }
    listener_ = fd;
    device_.windows().AddWakeSource(listener_, [this] { Accept(); });
}

void Endpoint::Publish(HWND window) {
    if (listener_ < 0) Open();
    if (listener_ < 0) return;
    std::string file = WindowFile(device_.folder(), window);
    std::string temp = file + ".new";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    bool ok = write(fd, socket_path_.data(), socket_path_.size()) == static_cast<ssize_t>(socket_path_.size());
    close(fd);
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) unlink(temp.c_str());
}

void Endpoint::Withdraw(HWND window) {
    if (listener_ >= 0) unlink(WindowFile(device_.folder(), window).c_str());
}

void Endpoint::Accept() {
    for (;;) {
        int connection = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0) return;
        // Only the device owner's processes may deliver messages.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
            Reply(connection, ERROR_ACCESS_DENIED, 0);
            close(connection);
            continue;
        }
        if (pending_.size() >= kMaxPendingConnections) {
            Reply(connection, ERROR_BUSY, 0);
            close(connection);
            continue;
        }
        pending_[connection] = true;
        device_.windows().AddWakeSource(connection, [this, connection] { Serve(connection); });
        Serve(connection);  // the request is usually there already
    }
}

void Endpoint::Drop(int connection) {
    device_.windows().RemoveWakeSource(connection);
    pending_.erase(connection);
    close(connection);
}

void Endpoint::Serve(int connection) {
    if (!pending_.count(connection)) return;
    WireRequest request{};
    ssize_t n = recv(connection, &request, sizeof request, MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // not yet
    // Answered or not, the connection is done with: one request each.
    pending_.erase(connection);
    device_.windows().RemoveWakeSource(connection);
    if (n != static_cast<ssize_t>(sizeof request) || request.magic != kWireMagic || request.version != kWireVersion ||
        (request.kind != kWireSend && request.kind != kWirePost && request.kind != kWireQuery)) {
        if (n > 0) Reply(connection, ERROR_INVALID_PARAMETER, 0);
        close(connection);
        return;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(request.hwnd));
    WPARAM wparam = static_cast<WPARAM>(request.wparam);
    LPARAM lparam = static_cast<LPARAM>(request.lparam);
    if (request.kind == kWireSend) {
        device_.windows().SentFromOtherProcess(window, request.msg, wparam, lparam, connection);
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
    device_.windows().PostedFromOtherProcess(window, request.msg, wparam, lparam, &error);
    AnswerOtherProcess(connection, error, 0);
}

void AnswerOtherProcess(int connection, DWORD error, LRESULT result) {
    Reply(connection, error, result);
    close(connection);
}

int ConnectToOwner(const std::string& folder, HWND window) {
    char path[4096];
    int fd = open(WindowFile(folder, window).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t n = read(fd, path, sizeof path - 1);
    close(fd);
    if (n <= 0) return -1;
    path[n] = 0;
    sockaddr_un address{};
    if (!FillAddress(path, &address)) return -1;
    int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    // A window of a process that is gone: its socket refuses.
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(s);
        return -1;
    }
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

}  // namespace host
