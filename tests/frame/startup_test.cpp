// Start-up and shutdown: what the system leaves in the registry and the order it does it in.
#include <gtest/gtest.h>

#include "frame/frame_test.h"
#include "res/resource.h"

namespace {

using pelorn_test::FrameTest;

const LPCTSTR kAppKey = u"SOFTWARE\\Apps\\Tavro SW";
const LPCTSTR kProfileKey = u"Software\\MicroSoft\\Shell";

const std::vector<std::pair<LPCTSTR, DWORD>> kProfileDefaults = {
    {u"GPS_PwrTimeOut", 180}, {u"GPS_BlTimeOut", 30},   {u"GPS_Slide", 10},      {u"GPS_Backlight", 0},
    {u"GPS_Power", 0},        {u"STD_PwrTimeOut", 180}, {u"STD_BlTimeOut", 30},  {u"STD_Slide", 5},
    {u"STD_Backlight", 1},    {u"STD_Power", 1},        {u"Temp_ACTimeOut", 60},
};

std::string json_name(LPCTSTR name) { return host::json::Utf8(name); }

DWORD HandleValue(HWND h) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(h)); }

class StartupTest : public FrameTest {};

TEST_F(StartupTest, TheFirstStartProvisionsTheDeviceInOrder) {
    Start();

    for (const auto& [name, value] : kProfileDefaults)
        EXPECT_EQ(value, Dword(HKEY_CURRENT_USER, kProfileKey, name)) << json_name(name);
    EXPECT_EQ(1u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg"));
    EXPECT_EQ(1u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"EnableIcon"));
    EXPECT_EQ(1u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"EnableBySW"));
    EXPECT_EQ(0u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"UserHotkey"));
    EXPECT_EQ(0u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"DisableApp"));
    EXPECT_EQ(HandleValue(Window()), Dword(HKEY_LOCAL_MACHINE, kAppKey, u"GPSHDL"));
    // The simulated receiver's banner: "...Version: 03.01.00.12-HH01...".
    EXPECT_EQ(std::u16string(u" 03.01.00.12"), Text(HKEY_LOCAL_MACHINE, kAppKey, u"FW"));

    std::vector<std::string> expected = {"AppReg"};  // read while missing: created as 0
    for (const auto& d : kProfileDefaults)
        expected.push_back(json_name(d.first));
    for (const char* name : {"AppReg", "EnableIcon", "EnableBySW", "UserHotkey", "FW", "GPSHDL", "DisableApp"})
        expected.push_back(name);
    EXPECT_EQ(expected, ValuesWritten());

    // The hardware layer gets the value 1 itself, then start-up waits 100 ms before reading AppReg.
    auto hal = trace().Calls("KernelIoControl");
    ASSERT_EQ(1u, hal.size());
    EXPECT_EQ(0x01013EA0, hal[0].Num("dwIoControlCode"));
    EXPECT_EQ(1, hal[0].Num("lpInBuf"));
    EXPECT_EQ(4, hal[0].Num("nInBufSize"));
    EXPECT_EQ(0, hal[0].Num("nOutBufSize"));
    auto sleeps = trace().Calls("Sleep");
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(100, sleeps[0].Num("dwMilliseconds"));
    EXPECT_EQ(hal[0].t, sleeps[0].t);

    auto timers = trace().Calls("SetTimer");
    ASSERT_EQ(1u, timers.size());
    EXPECT_EQ(1, timers[0].Num("nIDEvent"));
    EXPECT_EQ(1500, timers[0].Num("uElapse"));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(StartupTest, ASecondStartKeepsTheProfileAndPublishesTheNewWindow) {
    Start();
    HWND first = Window();
    SetDword(HKEY_CURRENT_USER, kProfileKey, u"GPS_Slide", 7);
    Close();
    EXPECT_EQ(HandleValue(first), Dword(HKEY_LOCAL_MACHINE, kAppKey, u"GPSHDL")) << "a normal close leaves it";

    Restart();
    EXPECT_NE(first, Window());
    EXPECT_EQ(7u, Dword(HKEY_CURRENT_USER, kProfileKey, u"GPS_Slide"));
    EXPECT_EQ(HandleValue(Window()), Dword(HKEY_LOCAL_MACHINE, kAppKey, u"GPSHDL"));
    EXPECT_EQ((std::vector<std::string>{"GPSHDL"}), ValuesWritten()) << "nothing else is written again";
    EXPECT_TRUE(trace().Calls("CreateFile").size() == 1) << "only the backlight driver: no firmware query";
}

TEST_F(StartupTest, CloseClearsTheHandleOnlyWhenTheDeviceIsNotProvisioned) {
    Start();
    DeleteValue(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg");
    trace().Clear();
    Close();
    EXPECT_EQ(0u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg")) << "reading it created it as 0";
    EXPECT_EQ(0u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"GPSHDL"));
    EXPECT_EQ(0u, TrayIcon());

    std::vector<std::string> order;
    for (const auto& e : trace().entries())
        if (e.call == "DestroyMenu" || e.call == "Shell_NotifyIcon" || e.call == "RegSetValueEx" ||
            e.call == "KillTimer" || e.call == "DestroyWindow")
            order.emplace_back(e.call);
    EXPECT_EQ((std::vector<std::string>{"DestroyMenu", "Shell_NotifyIcon", "RegSetValueEx", "RegSetValueEx",
                                        "KillTimer", "DestroyWindow"}),
              order);
}

TEST_F(StartupTest, WithoutTheBacklightDriverTheWindowExistsAndDoesNothing) {
    power().SetBacklightPresent(false);
    Start();
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_FALSE(IsWindowVisible(Window()));
    for (const char* call : {"CreatePopupMenu", "LoadImage", "Shell_NotifyIcon", "RegOpenKeyEx", "RegCreateKeyEx",
                             "KernelIoControl", "SetTimer"})
        EXPECT_TRUE(trace().Calls(call).empty()) << call;
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg"));
    Ticks(3);
    EXPECT_EQ(0, power().backlight_level_sets());
}

TEST_F(StartupTest, AFailedKernelRequestIsShownAndStartUpGoesOn) {
    power().SetKernelIoControlFailing(true);
    Start();
    EXPECT_EQ(std::vector<std::string>{"System IO control failed!!"}, Boxes());
    EXPECT_EQ(1u, Dword(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg"));
    EXPECT_EQ(1u, trace().Calls("SetTimer").size());
}

TEST_F(StartupTest, WithoutAnApplicationKeyEveryStartProvisionsAgain) {
    // Neither opened nor created: reads give 0, writes fail.
    device().faults().FailNext("RegCreateKeyEx", 1, ERROR_ACCESS_DENIED);
    Start();
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kAppKey, u"AppReg"));
    EXPECT_EQ(10u, Dword(HKEY_CURRENT_USER, kProfileKey, u"GPS_Slide")) << "the profile is still provisioned";
    EXPECT_EQ(1u, trace().Calls("KernelIoControl").size());
}

}  // namespace
