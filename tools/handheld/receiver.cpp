// `handheld receiver`: a GPS receiver on COM1 that says what a recorded log says, at the pace of
// its serial line, to the system running on the device; what the system sends it is printed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"

namespace handheld {
namespace {

const char kUsage[] = "usage: handheld receiver [--help] LOG [--pace BAUD] [--loop]\n";
constexpr std::size_t kMaxLog = 16u << 20;
constexpr long kDefaultBaud = 4800;
// How often the line is looked at while nobody has the port open: a pty tells of no opening.
constexpr int kListenerPollMs = 20;
// What is due is written in batches this far apart.
constexpr int kBatchMs = 10;

volatile sig_atomic_t g_stop = 0;

void Stop(int) { g_stop = 1; }

// What a receiver puts on the line: the recorder's comment lines dropped, every line ended CR LF.
std::string Spoken(const std::string& log) {
    std::string out;
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = std::min(log.find('\n', at), log.size());
        std::string line = log.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        out += line + "\r\n";
    }
    return out;
}

// The terminal's master side; the slave (path) is what COM1 opens. Raw from the start, so that
// nothing said before the system sets its modes is echoed back as if the system had sent it.
struct Pty {
    int master = -1;
    std::string path;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error(std::string("cannot make a pseudo-terminal: ") + std::strerror(errno));
        path = ptsname(master);
        int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (slave < 0 || tcgetattr(slave, &t) != 0)
            throw std::runtime_error("cannot set up " + path + ": " + std::strerror(errno));
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        // Closed again: the master now hangs up until the system opens the port.
        close(slave);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
};

using Clock = std::chrono::steady_clock;

class Receiver {
public:
    Receiver(std::string said, long baud, bool loop) : said_(std::move(said)), baud_(baud), loop_(loop) {}

    // Until a signal: feeds the line while someone listens, prints what comes back.
    void Run(const Pty& pty) {
        while (!g_stop) {
            pollfd p{pty.master, POLLIN, 0};
            int n = poll(&p, 1, 0);
            bool listening = n >= 0 && !(p.revents & POLLHUP);
            if (p.revents & POLLIN) Echo(pty.master);
            if (listening && !start_) start_ = Clock::now();
            if (start_) Speak(pty.master, listening);
            // A hung-up master is always ready: while nobody listens, look again a little later.
            int wait = !listening ? kListenerPollMs : Done() ? -1 : kBatchMs;
            p = {pty.master, POLLIN, 0};
            if (listening)
                poll(&p, 1, wait);
            else
                poll(nullptr, 0, wait);
        }
    }

    // How many bytes reached the system's side of the line.
    unsigned long long fed() const { return fed_; }

private:
    bool Done() const { return !loop_ && offset_ >= said_.size(); }

    // Writes what the line has carried by now since the log began; while nobody listens it is
    // said to nobody, as a receiver's output is.
    void Speak(int master, bool listening) {
        auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - *start_).count();
        // 10 bits a byte: start, 8 data, stop.
        unsigned long long due = static_cast<unsigned long long>(elapsed) * baud_ / 10 / 1000000;
        while (sent_ < due && !Done()) {
            if (offset_ >= said_.size()) offset_ = 0;  // --loop
            std::size_t n = std::min<unsigned long long>(due - sent_, said_.size() - offset_);
            if (listening) {
                ssize_t w = write(master, said_.data() + offset_, n);
                if (w < 0 && errno != EAGAIN) return;  // the line is gone
                if (w > 0) fed_ += static_cast<unsigned long long>(w);
            }
            // What the system did not take in time is lost, as on a real line.
            offset_ += n;
            sent_ += n;
        }
    }

    static void Echo(int master) {
        char buf[512];
        for (;;) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return;  // EAGAIN, or EIO once the system closed the port
            std::cout.write(buf, n);
            std::cout.flush();
        }
    }

    std::string said_;
    long baud_;
    bool loop_;
    std::optional<Clock::time_point> start_;  // when the system first opened the port
    unsigned long long sent_ = 0;
    unsigned long long fed_ = 0;
    std::size_t offset_ = 0;
};

}  // namespace

int ReceiverMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << kUsage
                  << "Makes a pseudo-terminal, maps COM1 of the device in PELORN_DEVICE to it, and plays the\n"
                     "recorded NMEA log LOG on it as a receiver would: comment lines (#) dropped, each line\n"
                     "ended CR LF, at BAUD (4800) with 10 bits a byte, from the moment the system first\n"
                     "opens the port; what comes while the port is closed is lost. --loop plays the log\n"
                     "again and again; without it the receiver falls silent at its end. What the system\n"
                     "writes to the receiver (the reset sentence) is printed as it arrives. Runs until\n"
                     "interrupted, then says how many bytes the system was fed and maps COM1 back to\n"
                     "what it was. COM1 names the receiver as its owner: killed outright, it leaves a\n"
                     "port that does not exist, never a terminal another program may get next.\n";
        return 0;
    }
    std::string log;
    long baud = kDefaultBaud;
    bool loop = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string problem;
        if (a == "--loop") {
            loop = true;
        } else if (a == "--pace") {
            char* end = nullptr;
            baud = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : 0;
            if (!end || *end || baud < 50 || baud > 4000000) problem = "--pace takes a rate from 50 to 4000000 baud";
        } else if (a.size() > 1 && a[0] == '-') {
            problem = "unknown option '" + a + "'";
        } else if (!log.empty()) {
            problem = "one log only";
        } else {
            log = a;
        }
        if (!problem.empty()) {
            std::cerr << "handheld receiver: " << problem << "\n" << kUsage;
            return 2;
        }
    }
    if (log.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    std::optional<std::string> bytes = ReadBounded(log, kMaxLog);
    if (!bytes) {
        std::cerr << "handheld receiver: cannot read " << log << ": "
                  << (errno == EFBIG ? "it holds more than 16 MiB" : std::strerror(errno)) << "\n";
        return 1;
    }
    std::string said = Spoken(*bytes);
    if (said.empty()) {
        std::cerr << "handheld receiver: " << log << " holds nothing but comments\n";
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = Stop;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string before;
    long before_owner = 0;
    try {
        Pty pty;
        {
            OnDevice on;
            host::SerialPorts& serial = host::Handheld::Current().serial();
            before = serial.Mapping(1);
            before_owner = before.empty() ? 0 : serial.Owner(1);
            // Ours while we live: killed, we leave no mapping to a terminal someone else may get.
            serial.Map(1, pty.path, static_cast<long>(getpid()));
        }
        std::cerr << "handheld receiver: COM1 is " << pty.path << "; " << log << " plays at " << baud
                  << " baud once the system opens it\n";
        Receiver receiver(said, baud, loop);
        receiver.Run(pty);
        std::cerr << "handheld receiver: fed " << receiver.fed() << " bytes of " << log << " to the system\n";
        OnDevice on;
        host::SerialPorts& serial = host::Handheld::Current().serial();
        // Someone else may have mapped the port since: theirs stays.
        if (serial.Mapping(1) == pty.path) {
            if (before.empty())
                serial.Unmap(1);
            else
                serial.Map(1, before, before_owner);
        }
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld receiver: " << e.what() << "\n";
        return 1;
    } catch (const std::runtime_error& e) {
        std::cerr << "handheld receiver: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
