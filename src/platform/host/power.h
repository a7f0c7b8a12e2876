// The backlight driver "BKL1:", the battery and the hardware layer's I/O control.
//
// Tools and tests set up the hardware here (backlight fitted or not, AC line, battery charge, a
// failing hardware layer) and read back what the system did to it (the brightness level, the
// I/O controls issued, the events set). The system itself reaches these only through the seam.
//
// Two registry values of the device link them to the Linux machine underneath, both REG_SZ and
// both read again whenever the registry changed, so they can be changed while the system runs:
//   HKLM\Software\Handheld\Backlight  "Sysfs"  a folder of /sys/class/backlight, by name
//                                              ("intel_backlight") or as a full path
//   HKLM\Software\Handheld\Power      "Sysfs"  a Mains supply of /sys/class/power_supply, by
//                                              name ("AC") or as a full path
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/clock.h"
#include "platform/host/events.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/seam.h"
#include "platform/host/sysfs.h"

namespace host {

// One KernelIoControl call that reached the hardware layer.
struct HalCall {
    Millis t = 0;
    DWORD code = 0;
    std::uintptr_t in = 0;  // lpInBuf as a value: the system passes 1 itself, not a pointer to it
    DWORD in_size = 0;
    std::uintptr_t out = 0;
    DWORD out_size = 0;
    bool succeeded = false;
};

// The request of IOCTL_BKL_SET_LEVEL: {12, level}, 8 bytes.
constexpr DWORD kIoctlBklSetLevel = 100;
constexpr DWORD kBklSetLevelTag = 12;
// The OEM request the system issues at start-up: CTL_CODE(FILE_DEVICE_HAL, 4008, METHOD_BUFFERED,
// FILE_ANY_ACCESS).
constexpr DWORD kIoctlHalOem4008 = CTL_CODE(FILE_DEVICE_HAL, 4008, METHOD_BUFFERED, FILE_ANY_ACCESS);

class PowerDevices {
public:
    // Brightness levels run from 0 (dark) to 10 (brightest). A sysfs backlight gets
    // level * max_brightness / 10, rounded down; levels above 10 drive it as 10, but the driver
    // keeps the level as sent.
    static constexpr DWORD kBacklightLevels = 10;

    // The AC line is kept in `registry` with the device's other hardware settings.
    PowerDevices(Clock& clock, RegistryStore& registry);
    ~PowerDevices();
    PowerDevices(const PowerDevices&) = delete;
    PowerDevices& operator=(const PowerDevices&) = delete;

    // --- "BKL1:" ---
    // A handheld without the driver: opening "BKL1:" fails with ERROR_FILE_NOT_FOUND, and
    // handles opened before fail every request with ERROR_DEV_NOT_EXIST.
    void SetBacklightPresent(bool present) { backlight_present_ = present; }
    bool backlight_present() const { return backlight_present_; }
    // The level last set through IOCTL_BKL_SET_LEVEL; kBacklightLevels at power on.
    DWORD backlight_level() const { return backlight_level_; }
    // How many IOCTL_BKL_SET_LEVEL requests the driver accepted.
    int backlight_level_sets() const { return backlight_level_sets_; }
    // Called with every level the driver accepts, as it accepts it.
    void ObserveBacklightLevels(std::function<void(DWORD)> observer) { level_observer_ = std::move(observer); }

    // --- battery ---
    // AC_LINE_OFFLINE (on battery, the power-on state), AC_LINE_ONLINE or AC_LINE_UNKNOWN. A
    // sysfs supply named in the registry takes precedence.
    // The AC line is the device's, kept with its hardware settings.
    void SetAcLine(BYTE status);
    BYTE ac_line() const;
    // Main battery charge, 0..100 (80 at power on).
    void SetBatteryPercent(BYTE percent) { battery_percent_ = percent > 100 ? 100 : percent; }
    // The status as the hardware reports it now (what GetSystemPowerStatusEx with fUpdate gives).
    SYSTEM_POWER_STATUS_EX CurrentPowerStatus() const;

    // --- KernelIoControl ---
    const std::vector<HalCall>& kernel_io_controls() const { return hal_calls_; }
    // While failing, every KernelIoControl fails with `error`.
    void SetKernelIoControlFailing(bool failing, DWORD error = ERROR_GEN_FAILURE) {
        hal_failing_ = failing;
        hal_error_ = error;
    }

    Events& events() { return events_; }

    // --- the seam's side ---
    void BacklightLevelSet(DWORD level);
    // Answers GetSystemPowerStatusEx: a fresh status when asked to update (or never asked before),
    // else the one given last.
    SYSTEM_POWER_STATUS_EX PowerStatus(bool update);
    // Runs an I/O control in the hardware layer, records it; FALSE with *error when it fails.
    BOOL HalIoControl(DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* error);

private:
    Clock& clock_;
    RegistryStore& registry_;
    mutable HardwareSetting ac_line_setting_{u"Power", u"ACLine"};
    mutable HardwareSetting sysfs_setting_{u"Power", u"Sysfs"};
    bool backlight_present_ = true;
    DWORD backlight_level_ = kBacklightLevels;
    int backlight_level_sets_ = 0;
    std::function<void(DWORD)> level_observer_;
    BYTE battery_percent_ = 80;
    std::optional<SYSTEM_POWER_STATUS_EX> last_status_;
    std::vector<HalCall> hal_calls_;
    bool hal_failing_ = false;
    DWORD hal_error_ = ERROR_GEN_FAILURE;
    Events events_;
};

}  // namespace host
