// Fuzzes the endpoint's handling of connections: the input is a script of what other processes
// do to a device's socket (connect, send any datagram or a well-formed request, close, shut their
// side, read their answer) and of the owner's loop turns between. Every connection is answered
// at most once, with what its first datagram asks for (or ERROR_BUSY or ERROR_TIMEOUT when it was
// dropped before its request was read), a sender still waiting at the end is answered, each post
// arrives once, and once every peer has gone the owner holds no descriptor more than before.
//
// One byte an operation, its operands following:
//   0 connect   1 raw datagram: client, length, bytes   2 request: client, kind, window, message,
//   wParam, lParam   3 close: client   4 shut the sending side: client   5 a turn of the owner's
//   loop   6 read every answer   7 read one client's answer: client
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/windows.h"

namespace {

constexpr UINT kCount = WM_USER + 1;  // counted
constexpr UINT kAdd = WM_USER + 2;    // answers wParam + lParam
constexpr UINT kAnswered = 7;         // the one query the owner answers
const char kAnswer[] = "seven";
constexpr std::size_t kMaxClients = 100;

std::string g_top;
HWND g_window = nullptr;
long g_counted = 0;

LRESULT CALLBACK OwnerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kCount) return ++g_counted, 0;
    if (msg == kAdd) return static_cast<LRESULT>(wp + static_cast<WPARAM>(lp));
    if (msg == WM_CLOSE) return 7;  // stays open for the next input
    return DefWindowProc(h, msg, wp, lp);
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

void SwitchOff() {
    host::Handheld::PowerOff();
    std::string cmd = "rm -rf '" + g_top + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_top.c_str());
}

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) Fail("cannot list /proc/self/fd");
    int n = 0;
    while (dirent* e = readdir(dir))
        n += e->d_name[0] != '.';
    closedir(dir);
    return n;
}

struct Answer {
    DWORD error = 0;
    std::int64_t result = 0;
    std::string text;
};

// What the owner answers the first datagram a peer sent; nothing for an empty one, which reads
// as the peer's end.
std::optional<Answer> Expected(const std::string& datagram) {
    if (datagram.empty()) return std::nullopt;
    host::PeerRequest r{};
    Answer a;
    a.error = host::DecodeRequest(datagram.data(), datagram.size(), &r);
    if (a.error != ERROR_SUCCESS) return a;
    if (r.kind == host::kWireQuery) {
        if (r.msg != kAnswered) return Answer{ERROR_NOT_SUPPORTED, 0, ""};
        return Answer{ERROR_SUCCESS, static_cast<std::int64_t>(sizeof kAnswer - 1), kAnswer};
    }
    if (r.window != g_window) return Answer{ERROR_INVALID_WINDOW_HANDLE, 0, ""};
    if (r.kind == host::kWirePost) return Answer{ERROR_SUCCESS, 0, ""};
    if (r.msg == kAdd)
        return Answer{ERROR_SUCCESS, static_cast<std::int64_t>(r.wparam + static_cast<WPARAM>(r.lparam)), ""};
    return Answer{ERROR_SUCCESS, r.msg == WM_CLOSE ? 7 : 0, ""};
}

struct Client {
    int fd = -1;
    std::optional<std::string> first;  // the first datagram sent
    bool answered = false;             // its answer, or its end, has been read
    bool dropped = false;              // answered ERROR_BUSY or ERROR_TIMEOUT
    bool counts = false;               // its first datagram posts or sends kCount to the window
};

class Run {
public:
    Run(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    void Go() {
        const int before = OpenDescriptors();
        const long counted_before = g_counted;
        while (pos_ < size_) {
            switch (Byte() % 8) {
                case 0:
                    Connect();
                    break;
                case 1:
                    Raw();
                    break;
                case 2:
                    Request();
                    break;
                case 3:
                    if (Client* c = Pick()) CloseClient(*c);
                    break;
                case 4:
                    if (Client* c = Pick()) shutdown(c->fd, SHUT_WR);
                    break;
                case 5:
                    Turn();
                    break;
                case 6:
                    for (Client& c : clients_)
                        Read(c);
                    break;
                case 7:
                    if (Client* c = Pick()) Read(*c);
                    break;
            }
        }
        // Peers that never said anything go; every sender that waits is then answered.
        for (Client& c : clients_)
            if (c.fd >= 0 && !c.first) CloseClient(c);
        Settle("a sender waits for an answer that never comes", [&] {
            bool waiting = false;
            for (Client& c : clients_) {
                Read(c);
                waiting = waiting || (c.fd >= 0 && Expected(*c.first) && !c.answered);
            }
            return !waiting;
        });
        long counts = 0, counts_answered = 0;
        for (Client& c : clients_) {
            counts += c.counts;
            counts_answered += c.counts && c.answered && !c.dropped;
            if (c.fd >= 0) CloseClient(c);
        }
        Settle("descriptors are left open", [&] { return OpenDescriptors() == before; });
        long arrived = g_counted - counted_before;
        if (arrived > counts || arrived < counts_answered)
            Fail("messages counted: " + std::to_string(arrived) + ", sent " + std::to_string(counts) + ", answered " +
                 std::to_string(counts_answered));
    }

private:
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    Client* Pick() {
        if (clients_.empty()) return nullptr;
        Client& c = clients_[Byte() % clients_.size()];
        return c.fd >= 0 ? &c : nullptr;
    }
    void Turn() { host::Handheld::Current().windows().RunFor(1); }
    // Turns the owner's loop until `done` holds; a loaded machine may need many.
    template <class Done>
    void Settle(const char* what, Done done) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            Turn();
            if (done()) return;
        } while (std::chrono::steady_clock::now() < until);
        Fail(what);
    }

    void Connect() {
        if (clients_.size() >= kMaxClients) return;
        int fd = host::ConnectToOwner(g_top + "/device", g_window);
        if (fd < 0) Fail("cannot connect to the window's owner");
        clients_.emplace_back();
        clients_.back().fd = fd;
    }

    void Send(Client& c, const std::string& datagram) {
        if (send(c.fd, datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) return;
        if (c.first) return;
        c.first = datagram;
        host::PeerRequest r{};
        c.counts = host::DecodeRequest(datagram.data(), datagram.size(), &r) == ERROR_SUCCESS &&
                   r.kind != host::kWireQuery && r.window == g_window && r.msg == kCount;
    }

    void Raw() {
        Client* c = Pick();
        std::size_t n = std::min<std::size_t>(Byte() % 48, size_ - pos_);
        std::string datagram(reinterpret_cast<const char*>(data_) + pos_, n);
        pos_ += n;
        if (c) Send(*c, datagram);
    }

    void Request() {
        static const UINT kMessages[] = {kAdd,     kCount,     WM_CLOSE,  WM_NULL, WM_COMMAND,
                                         WM_TIMER, WM_DESTROY, kAnswered, 0xFFFF,  0x10000};
        Client* c = Pick();
        std::uint8_t kind = Byte() % 5, window = Byte(), msg = Byte(), wp = Byte(), lp = Byte();
        auto handle = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(g_window));
        host::WireRequest w{host::kWireMagic,
                            host::kWireVersion,
                            kind,
                            window % 4 ? handle : handle ^ (1u + window),
                            kMessages[msg % (sizeof kMessages / sizeof kMessages[0])],
                            wp,
                            static_cast<std::int8_t>(lp)};
        if (c) Send(*c, std::string(reinterpret_cast<const char*>(&w), sizeof w));
    }

    // Reads what has come: the answer (and a query's text), then the owner's end.
    void Read(Client& c) {
        if (c.fd < 0) return;
        for (;;) {
            char buf[64];
            ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            // A peer that sent more than its one request is told so by a reset, ahead of its answer.
            if (n < 0 && errno == ECONNRESET) continue;
            if (n < 0) return;  // nothing yet
            std::optional<Answer> want = c.first ? Expected(*c.first) : std::nullopt;
            if (n == 0) {
                if (!c.answered && want) Fail("the owner hung up without answering");
                c.answered = true;
                return;
            }
            if (c.answered) Fail("a second answer, or text nobody asked for");
            host::WireReply reply{};
            if (n != sizeof reply) Fail("an answer of " + std::to_string(n) + " bytes");
            std::memcpy(&reply, buf, sizeof reply);
            c.answered = true;
            if (reply.magic != host::kWireMagic) Fail("an answer without the magic");
            // Dropped before its request was read: crowded out, or kept waiting past the time-out
            // by a loaded machine.
            if ((reply.error == ERROR_BUSY || reply.error == ERROR_TIMEOUT) && reply.result == 0) {
                if (reply.error == ERROR_BUSY && clients_.size() <= host::kMaxPendingConnections)
                    Fail("crowded out among few peers");
                c.dropped = true;
                continue;
            }
            if (!want) Fail("an answer to a peer that asked nothing: error " + std::to_string(reply.error));
            if (reply.error != want->error || reply.result != want->result)
                Fail("answered error " + std::to_string(reply.error) + " result " + std::to_string(reply.result) +
                     ", expected " + std::to_string(want->error) + " " + std::to_string(want->result));
            if (!want->text.empty()) {
                ssize_t t = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (t != static_cast<ssize_t>(want->text.size()) ||
                    std::string(buf, static_cast<std::size_t>(t)) != want->text)
                    Fail("the query's text is not the owner's");
            }
        }
    }

    void CloseClient(Client& c) {
        close(c.fd);
        c.fd = -1;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::vector<Client> clients_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/pelorn-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    g_top = pattern;
    host::BootOptions options;
    options.folder = g_top + "/device";
    options.virtual_clock = false;
    host::Handheld& device = host::Handheld::Boot(options);
    device.endpoint()->AnswerQueries([](UINT what) -> std::optional<std::string> {
        return what == kAnswered ? std::optional<std::string>(kAnswer) : std::nullopt;
    });
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = u"Owner";
    RegisterClass(&wc);
    g_window = CreateWindowEx(0, u"Owner", u"owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!g_window || !device.endpoint()->Publish(g_window)) Fail("cannot publish the owner's window");
    std::atexit(SwitchOff);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Run(data, size).Go();
    return 0;
}
