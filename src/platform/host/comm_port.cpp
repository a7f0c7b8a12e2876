#include "platform/host/comm_port.h"

#include <algorithm>
#include <cstring>

namespace host {
namespace {

constexpr std::size_t kInputBuffer = 4096;  // a UART driver's receive buffer; more is overrun
constexpr DWORD kModemLines = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;

}  // namespace

CommPort::CommPort(std::shared_ptr<SerialPorts::State> state, int number, DWORD access, std::unique_ptr<Line> line,
                   PortLock lock)
    : state_(std::move(state)),
      number_(number),
      access_(access),
      line_(std::move(line)),
      lock_(std::move(lock)),
      dcb_(line_->Initial()) {
    state_->ports[number_].open = true;
    RaiseLines(true);
    modem_mark_ = line_->ModemStatus();
}

CommPort::~CommPort() { Close(); }

BOOL CommPort::Close() {
    if (!line_) return TRUE;
    RaiseLines(false);
    line_.reset();
    lock_ = PortLock();
    state_->ports[number_].open = false;
    return TRUE;
}

BOOL CommPort::Read(void* buffer, DWORD size, DWORD* read) {
    *read = 0;
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    auto* out = static_cast<char*>(buffer);
    const COMMTIMEOUTS& to = timeouts_;
    // The Win32 rules: MAXDWORD, 0, 0 returns at once; MAXDWORD, MAXDWORD, c waits up to c
    // for a first byte; otherwise a total of multiplier * size + constant and, once a byte
    // is in, at most the interval between bytes (0: no such limit).
    bool at_once =
        to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0;
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
        state_->clock.BeforeWait();
        line_->WaitInput(deadline);
    }
}

BOOL CommPort::Write(const void* buffer, DWORD size, DWORD* written) {
    *written = 0;
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    Millis t = static_cast<Millis>(timeouts_.WriteTotalTimeoutMultiplier) * size + timeouts_.WriteTotalTimeoutConstant;
    Millis deadline = t > 0 ? Now() + t : kForever;
    std::size_t sent = 0;
    state_->clock.BeforeWait();
    bool ok = line_->Send(static_cast<const char*>(buffer), size, &sent, deadline);
    *written = static_cast<DWORD>(sent);
    if (sent) state_->ports[number_].writes.push_back({Now(), std::string(static_cast<const char*>(buffer), sent)});
    return ok ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL CommPort::GetState(DCB* dcb) const {
    *dcb = dcb_;
    return TRUE;
}

BOOL CommPort::SetState(const DCB& dcb) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2 || dcb.BaudRate == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD e = line_->Apply(dcb); e != ERROR_SUCCESS) return Fail(e);
    dcb_ = dcb;
    SetLine(ModemLine::kDtr, dcb.fDtrControl != DTR_CONTROL_DISABLE);
    SetLine(ModemLine::kRts, dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    return TRUE;
}

BOOL CommPort::GetTimeouts(COMMTIMEOUTS* t) const {
    *t = timeouts_;
    return TRUE;
}

BOOL CommPort::SetTimeouts(const COMMTIMEOUTS& t) {
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant == MAXDWORD)
        return Fail(ERROR_INVALID_PARAMETER);
    timeouts_ = t;
    return TRUE;
}

BOOL CommPort::SetMask(DWORD mask) {
    Pump();
    mask_ = mask;
    mark_ = arrived_;  // events before the new mask are forgotten
    modem_mark_ = line_->ModemStatus();
    return TRUE;
}

BOOL CommPort::Wait(DWORD* events) {
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
        state_->clock.BeforeWait();
        line_->WaitInput(deadline);
    }
}

BOOL CommPort::Escape(DWORD func) {
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

BOOL CommPort::ModemStatus(DWORD* status) {
    *status = line_->ModemStatus() & kModemLines;
    return TRUE;
}

BOOL CommPort::Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

Millis CommPort::Now() const { return state_->clock.Now(); }

void CommPort::Pump() {
    std::size_t room = kInputBuffer - std::min(kInputBuffer, rx_.size());
    Millis last = last_arrival_;
    std::size_t n = line_->Pump(&rx_, room, &last);
    if (n) {
        arrived_ += n;
        last_arrival_ = last;
    }
}

void CommPort::SetLine(ModemLine line, bool on) {
    line_->SetLine(line, on);
    state_->SetLine(number_, line, on);
}

void CommPort::RaiseLines(bool on) {
    SetLine(ModemLine::kDtr, on);
    SetLine(ModemLine::kRts, on);
}

}  // namespace host
