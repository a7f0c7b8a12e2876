// Delivery of window messages between processes on the same device.
//
// A process whose windows other programs may address listens on a Unix socket in the device
// folder (run/<pid>.sock, its owner's alone) and names each of its top-level windows in
// windows/<handle>, whose text is the socket's name. Sockets are bound and reached through the
// folder held open (/proc/self/fd/N/...), so any device path works, however long or relative.
// Another process sends one request per connection: a message for a window, which the owner
// serves from its one message loop (also inside modal loops), in order, and answers with the
// handler's result (SendMessage) or at once (PostMessage), or a query, which the program
// owning the window answers with text of its own making (AnswerQueries).
//
// Other programs may send or post only what other programs legitimately send a window:
// WM_NULL, WM_CLOSE, WM_COMMAND, and the messages from WM_USER (0x0400) to 0xFFFF, which are the
// application's own (the system's control messages 0x0401-0x0403 among them) and registered
// ones. The messages the window manager alone generates (creation, destruction, activation,
// painting, the non-client ones, WM_TIMER, WM_QUIT, ...) are refused with ERROR_ACCESS_DENIED:
// this transport carries numbers only, so none of the system messages whose parameters are
// pointers could cross it anyway.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/seam.h"

namespace host {

class Handheld;

// One request, as it travels.
struct WireRequest {
    std::uint32_t magic;
    std::uint16_t version;
    std::uint16_t kind;  // WireKind
    std::uint32_t hwnd;
    std::uint32_t msg;
    std::uint64_t wparam;
    std::int64_t lparam;
};
static_assert(sizeof(WireRequest) == 32, "requests are 32 bytes");

struct WireReply {
    std::uint32_t magic;
    std::uint32_t error;  // ERROR_SUCCESS, or why the request was refused
    std::int64_t result;
};
static_assert(sizeof(WireReply) == 16, "replies are 16 bytes");

// A query asks the program that owns the window for text, `msg` saying which query: the reply's
// result is the size of the text that follows in a second packet, or it refuses the query with
// ERROR_NOT_SUPPORTED.
enum WireKind : std::uint16_t { kWireSend = 1, kWirePost = 2, kWireQuery = 3 };

constexpr std::uint32_t kWireMagic = 0x4E524C50;  // "PLRN"
constexpr std::uint16_t kWireVersion = 1;
// Posted messages a window's queue holds at most, as on the platform.
constexpr std::size_t kMaxPostedMessages = 10000;
// Connections waiting for their request at most. A new one beyond that closes the oldest of the
// process that holds the most, so that no client can lock the others out.
constexpr std::size_t kMaxPendingConnections = 64;
// A connection that has not sent its request by then is closed with ERROR_TIMEOUT.
constexpr int kRequestTimeoutMs = 2000;
// Senders waiting for a handler's result at most; more are refused with ERROR_BUSY.
constexpr std::size_t kMaxWaitingSenders = 256;

// Whether another process may send or post `msg` to a window (see above).
bool MayComeFromAnotherProcess(UINT msg);

// A request as the owner of the window serves it.
struct PeerRequest {
    WireKind kind;
    HWND window;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};

// What a connection's datagram of `size` bytes asks for (only its first sizeof(WireRequest) bytes
// are read): ERROR_SUCCESS with *request, ERROR_INVALID_PARAMETER when it is no request of this
// version, ERROR_ACCESS_DENIED for a message another process may not send or post.
DWORD DecodeRequest(const void* datagram, std::size_t size, PeerRequest* request);

class Endpoint {
public:
    // Prepares run/ and windows/ in the device folder, clears away what processes that are gone
    // left there, and listens. Throws DeviceError naming the file at fault.
    explicit Endpoint(Handheld& device);
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Makes a window reachable from other processes; false when its name cannot be written.
    bool Publish(HWND window);
    void Withdraw(HWND window);

    // How this program answers queries: the text for query `what`, or nothing to refuse it. A
    // program that answers says so in run/<pid>.answers, so that others find it before it has a
    // window (AnsweringProcesses).
    using QueryHandler = std::function<std::optional<std::string>(UINT what)>;
    void AnswerQueries(QueryHandler handler);
    // Hears each message another process sends or posts here, before it is delivered.
    using RequestObserver = std::function<void(const PeerRequest& request, pid_t sender)>;
    void ObserveRequests(RequestObserver observer) { observe_ = std::move(observer); }

private:
    struct Pending {
        pid_t peer;          // the sending process
        long long since;     // when it connected, on the device's clock
        unsigned long turn;  // arrival order
    };
    void Close();
    void RemoveLeftovers();
    void Accept();
    void Serve(int connection);
    void Drop(int connection, DWORD error);
    void Expire();
    void ArmTimer();

    Handheld& device_;
    int run_ = -1;        // run/, held open
    int windows_ = -1;    // windows/, held open
    std::string socket_;  // <pid>.sock in run/
    int listener_ = -1;
    int timer_ = -1;                  // fires when the oldest pending connection is due to time out
    std::map<int, Pending> pending_;  // connections whose request has not arrived yet
    unsigned long turns_ = 0;
    QueryHandler answer_;
    RequestObserver observe_;
};

// Connects to the process that owns `window` on the device in `folder`; -1 when none is alive.
int ConnectToOwner(const std::string& folder, HWND window);

// Delivers a message to a window of another process on the device in `folder`. False (with
// *error) when no live process owns the window, or the owner refused the request.
bool DeliverToOtherProcess(const std::string& folder, HWND window, UINT msg, WPARAM wparam, LPARAM lparam, bool wait,
                           LRESULT* result, DWORD* error);

// Asks the process that owns `window` on the device in `folder` query `what`; empty when no live
// process owns the window or it refuses the query.
std::optional<std::string> QueryOtherProcess(const std::string& folder, HWND window, UINT what);

// The live processes on the device in `folder` that answer queries, this one excepted, oldest
// process id first.
std::vector<pid_t> AnsweringProcesses(const std::string& folder);
// The process that owns `window` on the device in `folder`; 0 when none alive does.
pid_t WindowOwner(const std::string& folder, HWND window);
// Asks process `pid` on the device in `folder` query `what`. Its loop answers only when it gets
// to it: after each `slice_ms` without an answer `wait_on(ms waited so far)` says whether to go
// on waiting. Empty when the process is gone, refuses the query, or was not waited for.
std::optional<std::string> QueryProcess(const std::string& folder, pid_t pid, UINT what, int slice_ms,
                                        const std::function<bool(int waited_ms)>& wait_on);

}  // namespace host
