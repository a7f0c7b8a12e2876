// The seam's comm functions on the handheld's serial ports.
#include "platform/host/comm_port.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"

using host::ApiCall;
using tracing::DcbFields;
using tracing::TimeoutFields;

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
