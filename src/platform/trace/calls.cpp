#include "platform/trace/calls.h"

#include <string>

namespace tracing {

const std::vector<CallInfo>& AllCalls() {
    static const std::vector<CallInfo> calls = {
#define PELORN_CALL_INFO(name, fails) {#name, fails},
        PELORN_TRACED_CALLS(PELORN_CALL_INFO)
#undef PELORN_CALL_INFO
    };
    return calls;
}

const CallInfo& Info(Call call) { return AllCalls()[static_cast<std::size_t>(call)]; }

void ArgName(ApiCall& c, const char* name, const WCHAR* s) {
    if (IS_INTRESOURCE(s))
        c.Arg(name, static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(s)));
    else
        c.ArgW(name, s);
}

void ArgCount(ApiCall& c, const char* name, const DWORD* count) {
    c.Arg(name, count ? TraceValue::Int(*count) : TraceValue::Null());
}

namespace {

void TypeAndSize(ApiCall& c, LONG r, DWORD type, DWORD size) {
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) c.Out("lpType", type).Out("*lpcbData", size);
}

}  // namespace

void GetCommStateCall::State(const DCB& dcb) {
    if (on()) DcbFields(*this, dcb);
}

void GetCommTimeoutsCall::Timeouts(const COMMTIMEOUTS& timeouts) {
    if (on()) TimeoutFields(*this, timeouts);
}

void GetSystemPowerStatusExCall::Status(int ac_line, int battery_flag, int battery_percent) {
    Out("ACLineStatus", ac_line).Out("BatteryFlag", battery_flag).Out("BatteryLifePercent", battery_percent);
}

void RegQueryValueExCall::TypeAndSize(LONG r, DWORD type, DWORD size) { tracing::TypeAndSize(*this, r, type, size); }

void RegEnumValueCall::TypeAndSize(LONG r, DWORD type, DWORD size) { tracing::TypeAndSize(*this, r, type, size); }

void ShellNotifyIconCall::Fields(const Data& d) {
    Arg("cbSize", d.cbSize).Arg("hWnd", d.hWnd).Arg("uID", d.uID);
    ArgHex("uFlags", d.uFlags).ArgHex("uCallbackMessage", d.uCallbackMessage).Arg("hIcon", d.hIcon);
    Out("icon", d.icon ? TraceValue::Int(*d.icon) : TraceValue::Null());
    if (d.uFlags & NIF_TIP) Arg("szTip", TraceValue::Text(json::Utf8(d.tip)));
}

}  // namespace tracing
