// The seam's comm functions on the handheld's serial ports.
#include "platform/host/comm_port.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::ApiCall;

namespace {

// The port a call is made on, once the call has taken any fault armed for it; none, with the
// last error set, when `h` is no port or an out-parameter the call needs is missing.
std::shared_ptr<host::CommPort> PortFor(ApiCall& c, HANDLE h, bool needed = true) {
    if (DWORD e; c.Injected(&e)) return nullptr;
    auto port = host::Handheld::Current().handles().GetAs<host::CommPort>(h);
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return port;
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) {
    tracing::GetCommStateCall c(h);
    auto port = PortFor(c, h, dcb != nullptr);
    if (!port) return c.Result(FALSE);
    port->GetState(dcb);
    c.State(*dcb);
    return c.Result(TRUE);
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
    tracing::SetCommStateCall c(h, dcb);
    auto port = PortFor(c, h, dcb != nullptr);
    if (!port) return c.Result(FALSE);
    return c.Result(port->SetState(*dcb));
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    tracing::GetCommTimeoutsCall c(h);
    auto port = PortFor(c, h, timeouts != nullptr);
    if (!port) return c.Result(FALSE);
    port->GetTimeouts(timeouts);
    c.Timeouts(*timeouts);
    return c.Result(TRUE);
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    tracing::SetCommTimeoutsCall c(h, timeouts);
    auto port = PortFor(c, h, timeouts != nullptr);
    if (!port) return c.Result(FALSE);
    return c.Result(port->SetTimeouts(*timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
    tracing::SetCommMaskCall c(h, mask);
    auto port = PortFor(c, h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->SetMask(mask));
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED overlapped) {
    tracing::WaitCommEventCall c(h, overlapped);
    auto port = PortFor(c, h, mask != nullptr);
    if (!port) return c.Result(FALSE);
    BOOL ok = port->Wait(mask);
    if (ok) c.Event(*mask);
    return c.Result(ok);
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
    tracing::GetCommModemStatusCall c(h);
    auto port = PortFor(c, h, status != nullptr);
    if (!port) return c.Result(FALSE);
    port->ModemStatus(status);
    c.Status(*status);
    return c.Result(TRUE);
}

BOOL EscapeCommFunction(HANDLE h, DWORD func) {
    tracing::EscapeCommFunctionCall c(h, func);
    auto port = PortFor(c, h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->Escape(func));
}
