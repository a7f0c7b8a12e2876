// The battery, the hardware layer's I/O control, and what the virtual hardware reads for itself.
#include "platform/host/power.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

namespace host {
namespace {

constexpr BYTE kBatteryFlagHigh = 0x01;
constexpr BYTE kBatteryFlagLow = 0x02;
constexpr BYTE kBatteryFlagCritical = 0x04;
constexpr BYTE kBatteryFlagCharging = 0x08;
constexpr DWORD kBatteryLifeUnknown = 0xFFFFFFFF;

BYTE SysfsAcLine(const std::string& folder) {
    auto online = ReadSysfsNumber(folder + "/online");
    if (!online) return AC_LINE_UNKNOWN;
    if (*online == 1) return AC_LINE_ONLINE;
    if (*online == 0) return AC_LINE_OFFLINE;
    return AC_LINE_UNKNOWN;
}

}  // namespace

PowerDevices::PowerDevices(Clock& clock, RegistryStore& registry) : clock_(clock), registry_(registry) {}
PowerDevices::~PowerDevices() = default;

void PowerDevices::SetAcLine(BYTE status) { SetHardwareDword(registry_, u"Power", u"ACLine", status); }

BYTE PowerDevices::ac_line() const {
    return static_cast<BYTE>(ac_line_setting_.Dword(registry_).value_or(AC_LINE_OFFLINE));
}

void PowerDevices::BacklightLevelSet(DWORD level) {
    backlight_level_ = level;
    ++backlight_level_sets_;
    if (level_observer_) level_observer_(level);
}

SYSTEM_POWER_STATUS_EX PowerDevices::CurrentPowerStatus() const {
    SYSTEM_POWER_STATUS_EX s{};
    s.ACLineStatus = ac_line();
    if (const std::u16string* setting = sysfs_setting_.Text(registry_); setting && !setting->empty())
        s.ACLineStatus = SysfsAcLine(SysfsFolder(*setting, "/sys/class/power_supply"));
    BYTE percent = battery_percent_;
    if (percent > 66)
        s.BatteryFlag = kBatteryFlagHigh;
    else if (percent < 5)
        s.BatteryFlag = kBatteryFlagCritical;
    else if (percent < 33)
        s.BatteryFlag = kBatteryFlagLow;
    if (s.ACLineStatus == AC_LINE_ONLINE && percent < 100) s.BatteryFlag |= kBatteryFlagCharging;
    s.BatteryLifePercent = percent;
    s.BatteryLifeTime = kBatteryLifeUnknown;
    s.BatteryFullLifeTime = kBatteryLifeUnknown;
    s.BackupBatteryFlag = kBatteryFlagHigh;
    s.BackupBatteryLifePercent = 100;
    s.BackupBatteryLifeTime = kBatteryLifeUnknown;
    s.BackupBatteryFullLifeTime = kBatteryLifeUnknown;
    return s;
}

SYSTEM_POWER_STATUS_EX PowerDevices::PowerStatus(bool update) {
    if (update || !last_status_) last_status_ = CurrentPowerStatus();
    return *last_status_;
}

BOOL PowerDevices::HalIoControl(DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* error) {
    HalCall call;
    call.t = clock_.Now();
    call.code = code;
    call.in = reinterpret_cast<std::uintptr_t>(in);
    call.in_size = in_size;
    call.out = reinterpret_cast<std::uintptr_t>(out);
    call.out_size = out_size;
    if (hal_failing_)
        *error = hal_error_;
    else if (code != kIoctlHalOem4008)
        *error = ERROR_NOT_SUPPORTED;
    else
        call.succeeded = true;
    // What 4008 does inside the OEM layer is not ours to know; the input is never dereferenced,
    // since the system passes the value 1 where a buffer would be.
    hal_calls_.push_back(call);
    return call.succeeded ? TRUE : FALSE;
}

}  // namespace host

using host::Handheld;

BOOL GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX pstatus, BOOL fUpdate) {
    tracing::GetSystemPowerStatusExCall c(pstatus, fUpdate);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!pstatus) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    *pstatus = Handheld::Current().power().PowerStatus(fUpdate != FALSE);
    if (c.on()) c.Status(pstatus->ACLineStatus, pstatus->BatteryFlag, pstatus->BatteryLifePercent);
    return c.Result(TRUE);
}

BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf, DWORD nOutBufSize,
                     LPDWORD lpBytesReturned) {
    tracing::KernelIoControlCall c(dwIoControlCode, lpInBuf, nInBufSize, lpOutBuf, nOutBufSize, lpBytesReturned);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    DWORD error = ERROR_SUCCESS;
    if (!Handheld::Current().power().HalIoControl(dwIoControlCode, lpInBuf, nInBufSize, lpOutBuf, nOutBufSize,
                                                  &error)) {
        SetLastError(error);
        return c.Result(FALSE);
    }
    if (lpBytesReturned) *lpBytesReturned = 0;
    return c.Result(TRUE);
}
