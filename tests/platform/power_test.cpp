#include "platform/host/power.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

constexpr DWORD kOem4008 = 0x01013EA0;

class PowerTest : public pelorn_test::DeviceTest {
protected:
    host::PowerDevices& power() { return device().power(); }
    HANDLE OpenBacklight(const WCHAR* name = _T("BKL1:")) {
        return CreateFile(name, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM,
                          nullptr);
    }
    BOOL SetLevel(HANDLE h, DWORD tag, DWORD level, DWORD size = 8, DWORD code = 100) {
        DWORD request[3] = {tag, level, 0};
        return DeviceIoControl(h, code, request, size, nullptr, 0, nullptr, nullptr);
    }
    // A fake sysfs folder named by the registry value "Sysfs" of `key`, as a tool would set it up.
    std::string FakeSysfs(const WCHAR* key, const char* name) {
        std::string path = folder() + "/" + name;
        EXPECT_EQ(0, mkdir(path.c_str(), 0755));
        std::u16string text(path.begin(), path.end());
        HKEY k = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueEx(k, _T("Sysfs"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                               static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))));
        RegCloseKey(k);
        trace().Clear();
        return path;
    }
    static void Put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string Get(const std::string& path) {
        std::ifstream in(path);
        std::string text;
        std::getline(in, text);
        return text;
    }
    BYTE AcLine(BOOL update = TRUE) {
        SYSTEM_POWER_STATUS_EX s{};
        EXPECT_TRUE(GetSystemPowerStatusEx(&s, update));
        return s.ACLineStatus;
    }
};

TEST_F(PowerTest, BacklightOpensAsBkl1OnlyAndNotWhenMissing) {
    HANDLE h = OpenBacklight();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    auto open = trace().Calls("CreateFile").at(0);
    EXPECT_EQ("BKL1:", open.Str("lpFileName"));
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(h), open.Num("result"));
    EXPECT_NE(INVALID_HANDLE_VALUE, OpenBacklight(_T("bkl1:")));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenBacklight(_T("BKL2:")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    power().SetBacklightPresent(false);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenBacklight());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(SetLevel(h, 12, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEV_NOT_EXIST), GetLastError());
    EXPECT_EQ(0, power().backlight_level_sets());
}

TEST_F(PowerTest, SetLevelIsKeptAndMalformedRequestsAreRejected) {
    HANDLE h = OpenBacklight();
    EXPECT_TRUE(SetLevel(h, 12, 5));
    EXPECT_EQ(5u, power().backlight_level());
    EXPECT_EQ("0c00000005000000", trace().Calls("DeviceIoControl").at(0).Str("lpInBuffer"));

    struct Bad {
        DWORD tag, size, code, error;
    };
    for (Bad bad : {Bad{12, 4, 100, ERROR_INVALID_PARAMETER}, Bad{12, 12, 100, ERROR_INVALID_PARAMETER},
                    Bad{13, 8, 100, ERROR_INVALID_PARAMETER}, Bad{12, 8, 101, host::FileDevice::kInvalidFunction}}) {
        EXPECT_FALSE(SetLevel(h, bad.tag, 7, bad.size, bad.code));
        EXPECT_EQ(bad.error, GetLastError()) << bad.tag << " " << bad.size << " " << bad.code;
    }
    EXPECT_FALSE(DeviceIoControl(h, 100, nullptr, 8, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(5u, power().backlight_level());
    EXPECT_EQ(1, power().backlight_level_sets());
}

TEST_F(PowerTest, SysfsBacklightFollowsTheLevelQuietly) {
    std::string panel = FakeSysfs(_T("Software\\Handheld\\Backlight"), "panel");
    Put(panel + "/max_brightness", "255\n");
    Put(panel + "/brightness", "40\n");
    HANDLE h = OpenBacklight();
    // The driver's own registry read neither shows in the trace nor takes a fault meant for the system.
    device().faults().FailNext("RegOpenKeyEx", 1, ERROR_ACCESS_DENIED);
    const std::pair<DWORD, const char*> mapping[] = {{10, "255"}, {5, "127"}, {1, "25"}, {0, "0"}, {15, "255"}};
    for (auto [level, brightness] : mapping) {
        EXPECT_TRUE(SetLevel(h, 12, level));
        EXPECT_EQ(brightness, Get(panel + "/brightness")) << "level " << level;
    }
    EXPECT_EQ(15u, power().backlight_level());
    EXPECT_EQ(6u, trace().entries().size());
    HKEY k = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyEx(HKEY_LOCAL_MACHINE, _T("Software"), 0, KEY_READ, &k));

    // A backlight that cannot be driven never fails the request.
    Put(panel + "/max_brightness", "bright\n");
    EXPECT_TRUE(SetLevel(h, 12, 3));
    EXPECT_EQ("255", Get(panel + "/brightness"));
    std::remove((panel + "/max_brightness").c_str());
    EXPECT_TRUE(SetLevel(h, 12, 6));
    EXPECT_EQ(6u, power().backlight_level());

    // More steps than a 32-bit long holds: the same brightness on every build.
    Put(panel + "/max_brightness", "3000000000\n");
    EXPECT_TRUE(SetLevel(h, 12, 5));
    EXPECT_EQ("1500000000", Get(panel + "/brightness"));
}

TEST_F(PowerTest, PowerStatusFollowsTheAcLineOrASysfsSupply) {
    SYSTEM_POWER_STATUS_EX s{};
    EXPECT_TRUE(GetSystemPowerStatusEx(&s, TRUE));
    EXPECT_EQ(AC_LINE_OFFLINE, s.ACLineStatus);
    EXPECT_EQ(80, s.BatteryLifePercent);
    EXPECT_EQ(0, trace().Calls("GetSystemPowerStatusEx").at(0).Num("ACLineStatus"));
    power().SetAcLine(AC_LINE_ONLINE);
    power().SetBatteryPercent(20);
    EXPECT_TRUE(GetSystemPowerStatusEx(&s, TRUE));
    EXPECT_EQ(AC_LINE_ONLINE, s.ACLineStatus);
    EXPECT_EQ(0x02 | 0x08, s.BatteryFlag);  // low, charging
    power().SetAcLine(AC_LINE_UNKNOWN);
    EXPECT_EQ(AC_LINE_UNKNOWN, AcLine());
    // Without the update flag the last status may come back.
    power().SetAcLine(AC_LINE_OFFLINE);
    EXPECT_EQ(AC_LINE_UNKNOWN, AcLine(FALSE));

    std::string mains = FakeSysfs(_T("Software\\Handheld\\Power"), "AC");
    Put(mains + "/online", "1\n");
    EXPECT_EQ(AC_LINE_ONLINE, AcLine());
    Put(mains + "/online", "0\n");
    EXPECT_EQ(AC_LINE_OFFLINE, AcLine());
    std::remove((mains + "/online").c_str());
    EXPECT_EQ(AC_LINE_UNKNOWN, AcLine());
    EXPECT_EQ(3u, trace().entries().size());
}

TEST_F(PowerTest, PowerStatusFailureLeavesTheRecordUntouched) {
    device().faults().FailNext("GetSystemPowerStatusEx", 1, ERROR_GEN_FAILURE);
    SYSTEM_POWER_STATUS_EX s, sentinel;
    std::memset(&s, 0xA5, sizeof s);
    sentinel = s;
    EXPECT_FALSE(GetSystemPowerStatusEx(&s, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ(0, std::memcmp(&s, &sentinel, sizeof s));
    EXPECT_FALSE(GetSystemPowerStatusEx(nullptr, TRUE));
}

TEST_F(PowerTest, OemIoControlIsRecordedWithTheValueOneAsItsBuffer) {
    DWORD returned = 77;
    EXPECT_TRUE(KernelIoControl(kOem4008, reinterpret_cast<LPVOID>(1), 4, nullptr, 0, &returned));
    EXPECT_EQ(0u, returned);
    auto call = trace().Calls("KernelIoControl").at(0);
    EXPECT_EQ(kOem4008, call.Num("dwIoControlCode"));
    EXPECT_EQ(1, call.Num("lpInBuf"));
    EXPECT_EQ(4, call.Num("nInBufSize"));
    EXPECT_EQ(0, call.Num("lpOutBuf"));
    ASSERT_EQ(1u, power().kernel_io_controls().size());
    EXPECT_EQ(1u, power().kernel_io_controls()[0].in);
    EXPECT_EQ(4u, power().kernel_io_controls()[0].in_size);

    EXPECT_FALSE(KernelIoControl(CTL_CODE(FILE_DEVICE_HAL, 21, METHOD_BUFFERED, FILE_ANY_ACCESS), nullptr, 0, nullptr,
                                 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}

TEST_F(PowerTest, OemIoControlFailsOnDemandAndPersistently) {
    DWORD returned = 77;
    device().faults().FailNext("KernelIoControl", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(KernelIoControl(kOem4008, reinterpret_cast<LPVOID>(1), 4, nullptr, 0, &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    power().SetKernelIoControlFailing(true);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(KernelIoControl(kOem4008, reinterpret_cast<LPVOID>(1), 4, nullptr, 0, &returned));
        EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    }
    EXPECT_EQ(77u, returned);
    power().SetKernelIoControlFailing(false);
    EXPECT_TRUE(KernelIoControl(kOem4008, reinterpret_cast<LPVOID>(1), 4, nullptr, 0, &returned));
    ASSERT_EQ(3u, power().kernel_io_controls().size());
    EXPECT_FALSE(power().kernel_io_controls()[1].succeeded);
    EXPECT_TRUE(power().kernel_io_controls()[2].succeeded);
}

}  // namespace
