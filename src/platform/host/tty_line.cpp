// A serial line on a real device or pseudo-terminal, through termios.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/host/serial_line.h"
#include "platform/host/windows.h"

namespace host {
namespace {

struct Speed {
    DWORD baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

class TtyLine final : public Line {
public:
    TtyLine(int fd, Clock& clock, const Millis* grace) : fd_(fd), clock_(clock), grace_(grace) {}
    ~TtyLine() override { ::close(fd_); }

    static std::unique_ptr<TtyLine> Open(const std::string& path, Clock& clock, const Millis* grace) {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        termios t{};
        if (tcgetattr(fd, &t) != 0) {
            ::close(fd);
            return nullptr;
        }
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
        return std::make_unique<TtyLine>(fd, clock, grace);
    }

    std::size_t Pump(std::string* rx, std::size_t room, Millis* last) override {
        std::size_t got = 0;
        char buf[512];
        while (got < room) {
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, room - got));
            if (n <= 0) break;  // EAGAIN: nothing more; EIO: the other end has gone
            rx->append(buf, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
        }
        if (got) *last = clock_.Now();
        return got;
    }

    void WaitInput(Millis deadline) override {
        Millis now = clock_.Now();
        if (deadline <= now) return;
        bool virtual_clock = clock_.IsVirtual();
        Millis span = deadline == kForever ? -1 : deadline - now;
        if (virtual_clock && span >= 0) span = std::min(span, *grace_);
        int timeout = span < 0 ? -1 : static_cast<int>(std::min<Millis>(span, INT_MAX));
        auto started = std::chrono::steady_clock::now();
        pollfd p{fd_, POLLIN, 0};
        int n = 0;
        // A hung-up terminal polls ready for ever (POLLIN with POLLHUP, reads of nothing): once
        // seen it is a closed line, waited on as the clock says, never polled again.
        if (!gone_) {
            do {
                n = ::poll(&p, 1, timeout);
            } while (n < 0 && errno == EINTR);
            gone_ = n < 0 || (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)));
        }
        bool readable = !gone_ && n > 0 && (p.revents & POLLIN);
        if (!virtual_clock) {
            if (gone_) clock_.AdvanceTo(deadline == kForever ? now + 1000 : deadline);
            return;
        }
        if (readable) {
            auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
            clock_.AdvanceTo(std::min(deadline, now + static_cast<Millis>(spent.count())));
        } else if (deadline != kForever) {
            clock_.AdvanceTo(deadline);  // quiet for the grace period: quiet to the end
        } else if (gone_) {
            throw Deadlock("a wait without end on a serial line whose other end has gone");
        }
    }

    bool Send(const char* data, std::size_t n, std::size_t* sent, Millis deadline) override {
        *sent = 0;
        while (*sent < n) {
            ssize_t w = ::write(fd_, data + *sent, n - *sent);
            if (w > 0) {
                *sent += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
            Millis now = clock_.Now();
            if (deadline != kForever && now >= deadline) return true;
            Millis span = deadline == kForever ? -1 : deadline - now;
            if (clock_.IsVirtual() && span >= 0) span = std::min(span, *grace_);
            pollfd p{fd_, POLLOUT, 0};
            int r = ::poll(&p, 1, span < 0 ? -1 : static_cast<int>(std::min<Millis>(span, INT_MAX)));
            if (r == 0 && clock_.IsVirtual() && deadline != kForever) clock_.AdvanceTo(deadline);
        }
        return true;
    }

    DWORD Apply(const DCB& d) override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return ERROR_GEN_FAILURE;
        const Speed* speed = nullptr;
        for (const Speed& s : kSpeeds)
            if (s.baud == d.BaudRate) speed = &s;
        if (!speed) return ERROR_INVALID_PARAMETER;
        cfmakeraw(&t);
        cfsetispeed(&t, speed->code);
        cfsetospeed(&t, speed->code);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= kSizes[d.ByteSize - 5];
        switch (d.Parity) {
            case ODDPARITY:
                t.c_cflag |= PARENB | PARODD;
                break;
            case EVENPARITY:
                t.c_cflag |= PARENB;
                break;
            case 3:  // mark
                t.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case 4:  // space
                t.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                break;
        }
        if (d.fParity && d.Parity != NOPARITY) t.c_iflag |= INPCK;
        if (d.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
        if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
        if (d.fOutX) t.c_iflag |= IXON;
        if (d.fInX) t.c_iflag |= IXOFF;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        return tcsetattr(fd_, TCSANOW, &t) == 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    }

    void SetLine(ModemLine line, bool on) override {
        int bit = line == ModemLine::kDtr ? TIOCM_DTR : TIOCM_RTS;
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);  // a pseudo-terminal has no such lines
    }

    DWORD ModemStatus() override {
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) != 0) return 0;
        DWORD s = 0;
        if (bits & TIOCM_CTS) s |= MS_CTS_ON;
        if (bits & TIOCM_DSR) s |= MS_DSR_ON;
        if (bits & TIOCM_RI) s |= MS_RING_ON;
        if (bits & TIOCM_CD) s |= MS_RLSD_ON;
        return s;
    }

    DCB Initial() override {
        termios t{};
        tcgetattr(fd_, &t);
        DWORD baud = 9600;
        for (const Speed& s : kSpeeds)
            if (s.code == cfgetospeed(&t)) baud = s.baud;
        DCB d = DefaultDcb(baud);
        switch (t.c_cflag & CSIZE) {
            case CS5:
                d.ByteSize = 5;
                break;
            case CS6:
                d.ByteSize = 6;
                break;
            case CS7:
                d.ByteSize = 7;
                break;
            default:
                d.ByteSize = 8;
        }
        if (t.c_cflag & PARENB) d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
        if (t.c_cflag & CSTOPB) d.StopBits = TWOSTOPBITS;
        return d;
    }

private:
    int fd_;
    bool gone_ = false;  // the other end hung up
    Clock& clock_;
    const Millis* grace_;
};

}  // namespace

DCB DefaultDcb(DWORD baud) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = baud;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

std::unique_ptr<Line> OpenTtyLine(const std::string& path, Clock& clock, const Millis* grace) {
    return TtyLine::Open(path, clock, grace);
}

bool StandardBaud(DWORD baud) {
    for (const Speed& s : kSpeeds)
        if (s.baud == baud) return true;
    return false;
}

}  // namespace host
