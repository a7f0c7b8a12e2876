// Serial ports: the comm functions of the seam over termios lines and the simulated receiver.
#include "platform/host/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/objects.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "platform/host/sim_receiver.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"

namespace host {
namespace {

constexpr Millis kForever = std::numeric_limits<Millis>::max();
constexpr std::size_t kInputBuffer = 4096;  // a UART driver's receive buffer; more is overrun
constexpr char16_t kPortsKey[] = u"Software\\Handheld\\Ports";
constexpr DWORD kModemLines = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;

bool ReceiverPowered(Handheld& device) { return device.gpio().PinLevel(38); }

std::u16string ValueName(int port) {
    std::u16string name = u"COM";
    for (char c : std::to_string(port))
        name += static_cast<char16_t>(c);
    return name;
}

// --- the wire: a terminal or the simulated receiver ----------------------------------------

class Line {
public:
    virtual ~Line() = default;
    // Moves what has arrived by now into *rx, at most `room` bytes. Returns how many arrived and
    // sets *last to the arrival time of the last of them.
    virtual std::size_t Pump(std::string* rx, std::size_t room, Millis* last) = 0;
    // Blocks until input may have arrived or the handheld's clock reaches `deadline`.
    virtual void WaitInput(Millis deadline) = 0;
    // Sends bytes, giving up at `deadline`; false with errno-style failure only when the line is broken.
    virtual bool Send(const char* data, std::size_t n, std::size_t* sent, Millis deadline) = 0;
    // ERROR_SUCCESS, or why the settings cannot be applied.
    virtual DWORD Apply(const DCB& dcb) = 0;
    virtual void SetLine(ModemLine line, bool on) = 0;
    // MS_*_ON bits; 0 where there are no cable signals.
    virtual DWORD ModemStatus() = 0;
    // What GetCommState reports before anybody set the port.
    virtual DCB Initial() = 0;
};

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

    // A terminal in raw mode, or null when `path` cannot be opened as one.
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
        int n;
        do {
            n = ::poll(&p, 1, timeout);
        } while (n < 0 && errno == EINTR);
        bool readable = n > 0 && (p.revents & POLLIN);
        bool gone = n > 0 && !readable;  // hung up: nothing more will come
        if (!virtual_clock) {
            if (gone) clock_.AdvanceTo(deadline == kForever ? now + 1000 : deadline);
            return;
        }
        if (readable) {
            auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
            clock_.AdvanceTo(std::min(deadline, now + static_cast<Millis>(spent.count())));
        } else if (deadline != kForever) {
            clock_.AdvanceTo(deadline);  // quiet for the grace period: quiet to the end
        } else if (gone) {
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
    Clock& clock_;
    const Millis* grace_;
};

class SimLine final : public Line {
public:
    SimLine(std::shared_ptr<SimReceiver> receiver, Clock& clock)
        : receiver_(std::move(receiver)), clock_(clock), cursor_(clock.Now()) {}

    std::size_t Pump(std::string* rx, std::size_t room, Millis* last) override {
        Millis now = clock_.Now();
        receiver_->Sample(now);
        std::size_t before = rx->size();
        Millis at = receiver_->Collect(cursor_, now, room, rx);
        cursor_ = now;  // what did not fit is lost, as in a UART overrun
        if (rx->size() > before) *last = at;
        return rx->size() - before;
    }

    void WaitInput(Millis deadline) override {
        Millis now = clock_.Now();
        if (deadline <= now) return;
        receiver_->Sample(now);
        std::optional<Millis> next = receiver_->NextArrival(cursor_);
        Millis until = next ? std::min(*next, deadline) : deadline;
        if (until == kForever) {
            if (clock_.IsVirtual()) throw Deadlock("a wait without end on a receiver that says nothing");
            until = now + 1000;  // its power may come back meanwhile
        }
        clock_.AdvanceTo(until);
    }

    bool Send(const char* data, std::size_t n, std::size_t* sent, Millis) override {
        receiver_->Receive(std::string_view(data, n), clock_.Now());
        *sent = n;
        return true;
    }

    DWORD Apply(const DCB& d) override {
        for (const Speed& s : kSpeeds)
            if (s.baud == d.BaudRate) return ERROR_SUCCESS;
        return ERROR_INVALID_PARAMETER;
    }
    void SetLine(ModemLine, bool) override {}
    DWORD ModemStatus() override { return 0; }
    DCB Initial() override { return DefaultDcb(9600); }

private:
    std::shared_ptr<SimReceiver> receiver_;
    Clock& clock_;
    Millis cursor_;  // input up to here has been taken
};

}  // namespace

// --- what the handheld keeps about its ports -----------------------------------------------

struct PortRecord {
    std::vector<PortWrite> writes;
    std::vector<LineChange> changes;
    bool dtr = false;
    bool rts = false;
    bool open = false;
};

struct SerialPorts::State {
    explicit State(Handheld& d) : device(d) {}
    Handheld& device;
    std::map<int, PortRecord> ports;
    Millis wait_limit = kDefaultWaitLimit;
    Millis quiet_grace = kDefaultQuietGrace;
    std::shared_ptr<SimReceiver> receiver;

    void SetLine(int port, ModemLine line, bool on) {
        PortRecord& r = ports[port];
        bool& level = line == ModemLine::kDtr ? r.dtr : r.rts;
        if (level == on) return;
        level = on;
        r.changes.push_back({device.clock().Now(), line, on});
    }
};

namespace {

class CommPort final : public FileDevice {
public:
    CommPort(std::shared_ptr<SerialPorts::State> state, int number, DWORD access, std::unique_ptr<Line> line)
        : state_(std::move(state)), number_(number), access_(access), line_(std::move(line)), dcb_(line_->Initial()) {
        state_->ports[number_].open = true;
        RaiseLines(true);
        modem_mark_ = line_->ModemStatus();
    }
    ~CommPort() override { Close(); }

    BOOL Close() override {
        if (!line_) return TRUE;
        RaiseLines(false);
        line_.reset();
        state_->ports[number_].open = false;
        return TRUE;
    }

    BOOL Read(void* buffer, DWORD size, DWORD* read) override {
        *read = 0;
        if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
        auto* out = static_cast<char*>(buffer);
        const COMMTIMEOUTS& to = timeouts_;
        // The Win32 rules: MAXDWORD, 0, 0 returns at once; MAXDWORD, MAXDWORD, c waits up to c
        // for a first byte; otherwise a total of multiplier * size + constant and, once a byte
        // is in, at most the interval between bytes (0: no such limit).
        bool at_once = to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == 0 &&
                       to.ReadTotalTimeoutConstant == 0;
        bool first_byte = to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == MAXDWORD;
        Millis start = Now();
        Millis total = kForever;
        if (first_byte) {
            total = start + to.ReadTotalTimeoutConstant;
        } else {
            Millis t = static_cast<Millis>(to.ReadTotalTimeoutMultiplier) * size + to.ReadTotalTimeoutConstant;
            if (t > 0) total = start + t;
        }
        Millis interval = first_byte || to.ReadIntervalTimeout == MAXDWORD || to.ReadIntervalTimeout == 0
                              ? kForever
                              : static_cast<Millis>(to.ReadIntervalTimeout);
        for (;;) {
            Pump();
            DWORD n = static_cast<DWORD>(std::min<std::size_t>(size - *read, rx_.size()));
            std::memcpy(out + *read, rx_.data(), n);
            rx_.erase(0, n);
            *read += n;
            if (*read == size || at_once || (first_byte && *read > 0)) return TRUE;
            Millis deadline = total;
            if (*read > 0 && interval != kForever) deadline = std::min(deadline, last_arrival_ + interval);
            if (Now() >= deadline) return TRUE;  // a time-out is not a failure
            line_->WaitInput(deadline);
        }
    }

    BOOL Write(const void* buffer, DWORD size, DWORD* written) override {
        *written = 0;
        if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
        Millis t =
            static_cast<Millis>(timeouts_.WriteTotalTimeoutMultiplier) * size + timeouts_.WriteTotalTimeoutConstant;
        Millis deadline = t > 0 ? Now() + t : kForever;
        std::size_t sent = 0;
        bool ok = line_->Send(static_cast<const char*>(buffer), size, &sent, deadline);
        *written = static_cast<DWORD>(sent);
        if (sent) state_->ports[number_].writes.push_back({Now(), std::string(static_cast<const char*>(buffer), sent)});
        return ok ? TRUE : Fail(ERROR_GEN_FAILURE);
    }

    BOOL GetState(DCB* dcb) const {
        *dcb = dcb_;
        return TRUE;
    }

    BOOL SetState(const DCB& dcb) {
        if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2 || dcb.BaudRate == 0)
            return Fail(ERROR_INVALID_PARAMETER);
        if (DWORD e = line_->Apply(dcb); e != ERROR_SUCCESS) return Fail(e);
        dcb_ = dcb;
        SetLine(ModemLine::kDtr, dcb.fDtrControl != DTR_CONTROL_DISABLE);
        SetLine(ModemLine::kRts, dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
        return TRUE;
    }

    BOOL GetTimeouts(COMMTIMEOUTS* t) const {
        *t = timeouts_;
        return TRUE;
    }

    BOOL SetTimeouts(const COMMTIMEOUTS& t) {
        if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
            t.ReadTotalTimeoutConstant == MAXDWORD)
            return Fail(ERROR_INVALID_PARAMETER);
        timeouts_ = t;
        return TRUE;
    }

    BOOL SetMask(DWORD mask) {
        Pump();
        mask_ = mask;
        mark_ = arrived_;  // events before the new mask are forgotten
        modem_mark_ = line_->ModemStatus();
        return TRUE;
    }

    BOOL Wait(DWORD* events) {
        *events = 0;
        if (mask_ == 0) return Fail(ERROR_INVALID_PARAMETER);
        Millis limit = state_->wait_limit;
        Millis deadline = limit > 0 ? Now() + limit : kForever;
        for (;;) {
            Pump();
            DWORD status = line_->ModemStatus();
            DWORD changed = status ^ modem_mark_;
            DWORD ev = 0;
            if (arrived_ > mark_) ev |= EV_RXCHAR;
            if (changed & MS_CTS_ON) ev |= EV_CTS;
            if (changed & MS_DSR_ON) ev |= EV_DSR;
            if (changed & MS_RLSD_ON) ev |= EV_RLSD;
            if ((changed & MS_RING_ON) && !(status & MS_RING_ON)) ev |= EV_RING;  // the ring's end
            ev &= mask_;
            if (ev || Now() >= deadline) {
                *events = ev;
                mark_ = arrived_;
                modem_mark_ = status;
                return TRUE;
            }
            line_->WaitInput(deadline);
        }
    }

    BOOL Escape(DWORD func) {
        switch (func) {
            case SETDTR:
            case CLRDTR:
                SetLine(ModemLine::kDtr, func == SETDTR);
                return TRUE;
            case SETRTS:
            case CLRRTS:
                SetLine(ModemLine::kRts, func == SETRTS);
                return TRUE;
            case SETXOFF:
            case SETXON:
                return TRUE;
            default:
                return Fail(ERROR_INVALID_PARAMETER);
        }
    }

    BOOL ModemStatus(DWORD* status) {
        *status = line_->ModemStatus() & kModemLines;
        return TRUE;
    }

private:
    static BOOL Fail(DWORD error) {
        SetLastError(error);
        return FALSE;
    }
    Millis Now() const { return state_->device.clock().Now(); }

    void Pump() {
        std::size_t room = kInputBuffer - std::min(kInputBuffer, rx_.size());
        Millis last = last_arrival_;
        std::size_t n = line_->Pump(&rx_, room, &last);
        if (n) {
            arrived_ += n;
            last_arrival_ = last;
        }
    }

    void SetLine(ModemLine line, bool on) {
        line_->SetLine(line, on);
        state_->SetLine(number_, line, on);
    }

    void RaiseLines(bool on) {
        SetLine(ModemLine::kDtr, on);
        SetLine(ModemLine::kRts, on);
    }

    std::shared_ptr<SerialPorts::State> state_;
    int number_;
    DWORD access_;
    std::unique_ptr<Line> line_;
    DCB dcb_;
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    std::string rx_;
    std::uint64_t arrived_ = 0;  // bytes that have reached the port since it was opened
    std::uint64_t mark_ = 0;     // arrived_ when the events were last reported or reset
    DWORD modem_mark_ = 0;
    Millis last_arrival_ = 0;
};

}  // namespace

// --- SerialPorts ----------------------------------------------------------------------------

SerialPorts::SerialPorts(Handheld& device) : device_(device), state_(std::make_shared<State>(device)) {
    state_->receiver =
        std::make_shared<SimReceiver>([&device] { return ReceiverPowered(device); }, device.clock().Now());
}

SerialPorts::~SerialPorts() = default;

namespace {

std::vector<BYTE> PathValue(const std::string& path) { return StringData(json::Utf16(path)); }

// The Ports key, created on the first change of the mapping. Once it exists only its values
// count, so a new key starts with the factory's wiring written out.
RegKeyId PortsKey(RegistryStore& reg) {
    RegKeyId key = 0;
    bool created = false;
    if (reg.CreateKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), kPortsKey, &key, &created) != ERROR_SUCCESS)
        throw DeviceError("cannot write the serial port mapping to " + reg.file());
    if (created) {
        std::vector<BYTE> sim = PathValue("sim");
        if (reg.SetValue(key, ValueName(1), REG_SZ, sim.data(), sim.size()) != ERROR_SUCCESS)
            throw DeviceError("cannot write the serial port mapping to " + reg.file());
    }
    return key;
}

}  // namespace

// The registry is read and written through the store, not the seam: these are the device's own
// reads, which neither the trace nor injected faults may see.
void SerialPorts::Map(int port, const std::string& path) {
    RegistryStore& reg = device_.registry();
    RegKeyId key = PortsKey(reg);
    std::vector<BYTE> data = PathValue(path);
    if (reg.SetValue(key, ValueName(port), REG_SZ, data.data(), data.size()) != ERROR_SUCCESS)
        throw DeviceError("cannot write the serial port mapping to " + reg.file());
}

void SerialPorts::Unmap(int port) {
    RegistryStore& reg = device_.registry();
    LONG r = reg.DeleteValue(PortsKey(reg), ValueName(port));
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
        throw DeviceError("cannot write the serial port mapping to " + reg.file());
}

// A device whose ports were never mapped has the factory's wiring: the simulated receiver on
// COM1 and nothing else. Once the Ports key exists, only its values count.
std::string SerialPorts::Mapping(int port) const {
    RegistryStore& reg = device_.registry();
    RegKeyId key = 0;
    RegValue value;
    if (reg.OpenKey(RegistryStore::Root(HKEY_LOCAL_MACHINE), kPortsKey, &key) == ERROR_FILE_NOT_FOUND)
        return port == 1 ? "sim" : "";
    if (reg.GetValue(key, ValueName(port), &value) != ERROR_SUCCESS ||
        (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
        return {};
    return json::Utf8(StringOf(value.data));
}

std::vector<PortWrite> SerialPorts::Writes(int port) const {
    auto it = state_->ports.find(port);
    return it == state_->ports.end() ? std::vector<PortWrite>{} : it->second.writes;
}

std::string SerialPorts::Written(int port) const {
    std::string out;
    for (const PortWrite& w : Writes(port))
        out += w.bytes;
    return out;
}

std::vector<LineChange> SerialPorts::LineChanges(int port) const {
    auto it = state_->ports.find(port);
    return it == state_->ports.end() ? std::vector<LineChange>{} : it->second.changes;
}

bool SerialPorts::Dtr(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.dtr;
}

bool SerialPorts::Rts(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.rts;
}

bool SerialPorts::IsOpen(int port) const {
    auto it = state_->ports.find(port);
    return it != state_->ports.end() && it->second.open;
}

void SerialPorts::SetWaitLimit(Millis ms) { state_->wait_limit = std::max<Millis>(ms, 0); }
Millis SerialPorts::wait_limit() const { return state_->wait_limit; }
void SerialPorts::SetQuietGrace(Millis real_ms) { state_->quiet_grace = std::max<Millis>(real_ms, 0); }
SimReceiver& SerialPorts::receiver() { return *state_->receiver; }

std::shared_ptr<FileDevice> SerialPorts::Open(int port, DWORD access, DWORD* error) {
    std::string path = Mapping(port);
    if (path.empty()) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (IsOpen(port)) {
        *error = ERROR_ACCESS_DENIED;  // a serial port has one user at a time
        return nullptr;
    }
    std::unique_ptr<Line> line;
    if (path == "sim")
        line = std::make_unique<SimLine>(state_->receiver, device_.clock());
    else
        line = TtyLine::Open(path, device_.clock(), &state_->quiet_grace);
    if (!line) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return std::make_shared<CommPort>(state_, port, access, std::move(line));
}

std::shared_ptr<FileDevice> OpenSerialDevice(const std::u16string& name, DWORD access, DWORD* error) {
    // "COMn:", as the device namespace has checked.
    return Handheld::Current().serial().Open(name[3] - u'0', access, error);
}

}  // namespace host

// --- the seam's comm functions --------------------------------------------------------------

using host::ApiCall;

namespace {

std::shared_ptr<host::CommPort> PortOf(HANDLE h) {
    auto port = host::Handheld::Current().handles().GetAs<host::CommPort>(h);
    if (!port) SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

DWORD FlagWord(const DCB& d) {
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&d) + offsetof(DCB, BaudRate) + sizeof(DWORD), sizeof flags);
    return flags;
}

void DcbFields(ApiCall& c, const DCB& d) {
    c.Arg("DCBlength", d.DCBlength).Arg("BaudRate", d.BaudRate).ArgHex("flags", FlagWord(d));
    c.Arg("fDtrControl", d.fDtrControl).Arg("fRtsControl", d.fRtsControl);
    c.Arg("ByteSize", d.ByteSize).Arg("Parity", d.Parity).Arg("StopBits", d.StopBits);
}

void TimeoutFields(ApiCall& c, const COMMTIMEOUTS& t) {
    c.Arg("ReadIntervalTimeout", t.ReadIntervalTimeout).Arg("ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier);
    c.Arg("ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant);
    c.Arg("WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier);
    c.Arg("WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant);
}

BOOL BadParameter(ApiCall& c) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return c.Result(FALSE);
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) {
    ApiCall c("GetCommState");
    c.ArgPtr("hFile", h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!dcb) return BadParameter(c);
    port->GetState(dcb);
    if (c.on()) DcbFields(c, *dcb);
    return c.Result(TRUE);
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
    ApiCall c("SetCommState");
    c.ArgPtr("hFile", h);
    if (dcb && c.on()) DcbFields(c, *dcb);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!dcb) return BadParameter(c);
    return c.Result(port->SetState(*dcb));
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    ApiCall c("GetCommTimeouts");
    c.ArgPtr("hFile", h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!timeouts) return BadParameter(c);
    port->GetTimeouts(timeouts);
    if (c.on()) TimeoutFields(c, *timeouts);
    return c.Result(TRUE);
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    ApiCall c("SetCommTimeouts");
    c.ArgPtr("hFile", h);
    if (timeouts && c.on()) TimeoutFields(c, *timeouts);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!timeouts) return BadParameter(c);
    return c.Result(port->SetTimeouts(*timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
    ApiCall c("SetCommMask");
    c.ArgPtr("hFile", h).ArgHex("dwEvtMask", mask);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->SetMask(mask));
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED overlapped) {
    ApiCall c("WaitCommEvent");
    c.ArgPtr("hFile", h).ArgPtr("lpOverlapped", overlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!mask) return BadParameter(c);
    BOOL ok = port->Wait(mask);
    if (ok) c.ArgHex("EvtMask", *mask);
    return c.Result(ok);
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
    ApiCall c("GetCommModemStatus");
    c.ArgPtr("hFile", h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!status) return BadParameter(c);
    port->ModemStatus(status);
    c.ArgHex("ModemStat", *status);
    return c.Result(TRUE);
}

BOOL EscapeCommFunction(HANDLE h, DWORD func) {
    ApiCall c("EscapeCommFunction");
    c.ArgPtr("hFile", h).Arg("dwFunc", func);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->Escape(func));
}
