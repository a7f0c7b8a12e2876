// The seam's comm functions on the handheld's serial ports.
#include "platform/host/comm_port.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::ApiCall;

namespace {

std::shared_ptr<host::CommPort> PortOf(HANDLE h) {
    auto port = host::Handheld::Current().handles().GetAs<host::CommPort>(h);
    if (!port) SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

BOOL BadParameter(ApiCall& c) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return c.Result(FALSE);
}

}  // namespace

BOOL GetCommState(HANDLE h, LPDCB dcb) {
    tracing::GetCommStateCall c(h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!dcb) return BadParameter(c);
    port->GetState(dcb);
    c.State(*dcb);
    return c.Result(TRUE);
}

BOOL SetCommState(HANDLE h, LPDCB dcb) {
    tracing::SetCommStateCall c(h, dcb);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!dcb) return BadParameter(c);
    return c.Result(port->SetState(*dcb));
}

BOOL GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    tracing::GetCommTimeoutsCall c(h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!timeouts) return BadParameter(c);
    port->GetTimeouts(timeouts);
    c.Timeouts(*timeouts);
    return c.Result(TRUE);
}

BOOL SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS timeouts) {
    tracing::SetCommTimeoutsCall c(h, timeouts);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!timeouts) return BadParameter(c);
    return c.Result(port->SetTimeouts(*timeouts));
}

BOOL SetCommMask(HANDLE h, DWORD mask) {
    tracing::SetCommMaskCall c(h, mask);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->SetMask(mask));
}

BOOL WaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED overlapped) {
    tracing::WaitCommEventCall c(h, overlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!mask) return BadParameter(c);
    BOOL ok = port->Wait(mask);
    if (ok) c.Event(*mask);
    return c.Result(ok);
}

BOOL GetCommModemStatus(HANDLE h, LPDWORD status) {
    tracing::GetCommModemStatusCall c(h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    if (!status) return BadParameter(c);
    port->ModemStatus(status);
    c.Status(*status);
    return c.Result(TRUE);
}

BOOL EscapeCommFunction(HANDLE h, DWORD func) {
    tracing::EscapeCommFunctionCall c(h, func);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto port = PortOf(h);
    if (!port) return c.Result(FALSE);
    return c.Result(port->Escape(func));
}
