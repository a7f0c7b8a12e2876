// The monitor: every 1.5 s it follows pin 38 and the battery and applies the power profile.
#include <gtest/gtest.h>

#include <functional>

#include "frame/frame_test.h"
#include "platform/host/hardware_settings.h"
#include "res/resource.h"

namespace {

using pelorn_test::FrameTest;

const LPCTSTR kProfileKey = u"Software\\MicroSoft\\Shell";
const LPCTSTR kBacklightKey = u"ControlPanel\\Backlight";
const LPCTSTR kTimeoutsKey = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";
const std::u16string kBacklightEvent = u"BackLightChangeEvent";
const std::u16string kPowerEvent = u"PowerManager/ReloadActivityTimeouts";

class MonitorTest : public FrameTest {
protected:
    // Starts with the receiver powered (or not) by its hardware, and runs the first tick.
    void StartWithReceiver(bool powered) {
        gpio().DrivePin38(powered);
        Start();
        Ticks(1);
    }
    std::optional<DWORD> BatteryTimeout() { return Dword(HKEY_CURRENT_USER, kBacklightKey, u"BatteryTimeout"); }
    std::optional<DWORD> SuspendTimeout() { return Dword(HKEY_LOCAL_MACHINE, kTimeoutsKey, u"BattSuspendTimeout"); }
    int Refreshes() { return power().events().SetCount(kBacklightEvent); }
    // The icon after each tick, for `n` ticks.
    std::vector<UINT> IconsOverTicks(int n) {
        std::vector<UINT> out;
        for (int i = 0; i < n; ++i) {
            Ticks(1);
            out.push_back(TrayIcon());
        }
        return out;
    }
};

TEST_F(MonitorTest, PoweredOnBatteryUsesTheGpsProfileThroughout) {
    StartWithReceiver(true);
    EXPECT_EQ(10u, power().backlight_level()) << "GPS_Slide";
    EXPECT_EQ(0u, BatteryTimeout()) << "GPS_Backlight 0 disables the backlight time-out";
    EXPECT_EQ(0u, SuspendTimeout()) << "GPS_Power 0 disables the suspend time-out";
    EXPECT_EQ(1, Refreshes());
    EXPECT_EQ(1, power().events().SetCount(kPowerEvent));
    // Backlight first, then the power manager.
    const auto& signals = power().events().signals();
    ASSERT_EQ(2u, signals.size());
    EXPECT_EQ(kBacklightEvent, signals[0].name);
    EXPECT_EQ(kPowerEvent, signals[1].name);

    // The driver gets the 8-byte request {12, level} with code 100.
    auto io = trace().Calls("DeviceIoControl");
    ASSERT_FALSE(io.empty());
    EXPECT_EQ(100, io.back().Num("dwIoControlCode"));
    EXPECT_EQ(8, io.back().Num("nInBufferSize"));
    EXPECT_EQ("0c0000000a000000", io.back().Str("lpInBuffer"));
}

TEST_F(MonitorTest, PoweredOnExternalPowerTakesTheStandardBrightnessButTheGpsTimeouts) {
    power().SetAcLine(AC_LINE_ONLINE);
    StartWithReceiver(true);
    EXPECT_EQ(5u, power().backlight_level()) << "STD_Slide";
    EXPECT_EQ(0u, BatteryTimeout());
    EXPECT_EQ(0u, SuspendTimeout());

    power().SetAcLine(AC_LINE_UNKNOWN);
    SetDword(HKEY_CURRENT_USER, kProfileKey, u"STD_Slide", 3);
    Ticks(1);
    EXPECT_EQ(3u, power().backlight_level()) << "no status counts as external power";
}

TEST_F(MonitorTest, NotPoweredTheDefaultsGive30And180) {
    StartWithReceiver(false);
    EXPECT_EQ(30u, BatteryTimeout());
    EXPECT_EQ(180u, SuspendTimeout());
    EXPECT_EQ(5u, power().backlight_level());
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon());
}

TEST_F(MonitorTest, ASteadyTickReadsLittleAndWritesNothing) {
    StartWithReceiver(false);
    Ticks(1);
    trace().Clear();
    Ticks(1);
    auto count = [&](const char* call) { return trace().Calls(call).size(); };
    EXPECT_EQ(1u, count("RegOpenKeyEx"));
    EXPECT_EQ(2u, count("RegQueryValueEx")) << "State_Chg and the brightness";
    EXPECT_EQ(0u, count("RegSetValueEx")) << "State_Chg read 0 is not written back";
    EXPECT_EQ(1u, count("GetSystemPowerStatusEx"));
    EXPECT_EQ(1u, count("DeviceIoControl"));
    EXPECT_EQ(1u, count("RegCloseKey"));
    EXPECT_EQ(0u, count("SetEvent"));
    auto status = trace().Calls("GetSystemPowerStatusEx");
    EXPECT_EQ(1, status[0].Num("fUpdate"));
}

TEST_F(MonitorTest, AChangeFlagFromAnotherProgramForcesARefreshAndIsCleared) {
    StartWithReceiver(false);
    Ticks(2);
    ASSERT_EQ(1, Refreshes());
    SetDword(HKEY_LOCAL_MACHINE, kTimeoutsKey, u"BattSuspendTimeout", 999);
    SetDword(HKEY_CURRENT_USER, kProfileKey, u"State_Chg", 5);
    Ticks(1);
    EXPECT_EQ(0u, Dword(HKEY_CURRENT_USER, kProfileKey, u"State_Chg"));
    EXPECT_EQ(180u, SuspendTimeout());
    EXPECT_EQ(2, Refreshes());
    Ticks(2);
    EXPECT_EQ(2, Refreshes()) << "once only";
}

TEST_F(MonitorTest, HardwareSetByAnotherProgramIsFollowedOnTheNextTick) {
    StartWithReceiver(false);
    Ticks(1);
    host::RegistryStore other(device().device_folder());  // another program's connection
    host::SetHardwareDword(other, u"Gpio", u"Pin38", 1);
    host::SetHardwareDword(other, u"Power", u"ACLine", AC_LINE_ONLINE);
    Ticks(1);
    EXPECT_EQ(std::vector<UINT>{ID_GPS_ON}, CheckedItems());
    EXPECT_EQ(5u, power().backlight_level()) << "on external power: STD_Slide";
    host::SetHardwareDword(other, u"Power", u"ACLine", AC_LINE_OFFLINE);
    Ticks(1);
    EXPECT_EQ(10u, power().backlight_level()) << "on battery: GPS_Slide";
}

TEST_F(MonitorTest, Pin38RisingWhileOffSwitchesTheModeOnAndRefreshes) {
    StartWithReceiver(false);
    std::vector<std::string> before = PinWrites();
    gpio().DrivePin38(true);
    trace().Clear();
    Ticks(1);

    EXPECT_EQ(std::vector<UINT>{ID_GPS_ON}, CheckedItems());
    auto writes = PinWrites();
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ("0x1C", writes[0].substr(0, 4));
    EXPECT_EQ("0x18", writes[1].substr(0, 4));
    EXPECT_EQ(0u, BatteryTimeout());
    EXPECT_EQ(0u, SuspendTimeout());
    EXPECT_EQ(2, Refreshes());
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_ON_A), TrayIcon()) << "the switching tick ends on icon 130";
}

TEST_F(MonitorTest, WhilePoweredTheIconAlternates) {
    StartWithReceiver(true);
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_ON_A), TrayIcon());
    auto icons = IconsOverTicks(4);
    EXPECT_EQ((std::vector<UINT>{IDI_GPS_ON_A, IDI_GPS_ON_B, IDI_GPS_ON_A, IDI_GPS_ON_B}), icons);
    // The tick that switches off ends on icons[1] (131); the next shows the off picture.
    gpio().DrivePin38(false);
    EXPECT_EQ((std::vector<UINT>{IDI_GPS_ON_B, IDI_GPS_OFF}), IconsOverTicks(2));
}

TEST_F(MonitorTest, TheBlinkPhaseIsCarriedAcrossAnOffPeriod) {
    StartWithReceiver(true);
    Ticks(2);  // three powered ticks: the phase stands at 1
    gpio().DrivePin38(false);
    Ticks(2);
    gpio().DrivePin38(true);
    trace().Clear();
    // The switching tick flips the phase to 0 (130) before it ends on 130; the next flips it to 1.
    EXPECT_EQ((std::vector<UINT>{IDI_GPS_ON_A, IDI_GPS_ON_B, IDI_GPS_ON_A}), IconsOverTicks(3));
    auto first = trace().Calls("Shell_NotifyIcon").at(0);
    EXPECT_EQ(NIM_MODIFY, first.Num("dwMessage"));
    EXPECT_EQ(IDI_GPS_ON_A, first.Num("icon")) << "the phase went on from where the off period found it";
}

TEST_F(MonitorTest, ARefreshReadsTheBacklightTimeOutFirstThenTheSuspendTimeOutThenTheirEnables) {
    StartWithReceiver(false);
    SetDword(HKEY_CURRENT_USER, kProfileKey, u"State_Chg", 1);
    trace().Clear();
    Ticks(1);
    std::vector<std::string> reads;
    for (const auto& e : trace().Calls("RegQueryValueEx"))
        reads.push_back(e.Str("lpValueName"));
    EXPECT_EQ((std::vector<std::string>{"State_Chg", "STD_Slide", "STD_BlTimeOut", "STD_PwrTimeOut", "STD_Backlight",
                                        "STD_Power"}),
              reads);
    EXPECT_EQ((std::vector<std::string>{"State_Chg", "BatteryTimeout", "BattSuspendTimeout"}), ValuesWritten());
}

TEST_F(MonitorTest, TheReloadEventsAreCreatedAutoResetAndNotSignalled) {
    StartWithReceiver(false);
    auto created = trace().Calls("CreateEvent");
    ASSERT_EQ(2u, created.size());
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(i == 0 ? "BackLightChangeEvent" : "PowerManager/ReloadActivityTimeouts", created[i].Str("lpName"));
        EXPECT_EQ("0", created[i].Raw("lpEventAttributes"));
        EXPECT_EQ(0, created[i].Num("bManualReset")) << "auto-reset";
        EXPECT_EQ(0, created[i].Num("bInitialState")) << "not signalled";
    }
}

TEST_F(MonitorTest, DisabledItLeavesIconAndModeAloneAndUsesTheStandardProfile) {
    SetDword(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"DisableApp", 1);
    gpio().DrivePin38(true);
    Start();
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon()) << "the icon is still added";
    trace().Clear();
    Ticks(3);
    EXPECT_TRUE(trace().Calls("Shell_NotifyIcon").empty());
    EXPECT_TRUE(PinWrites().empty());
    EXPECT_EQ(std::vector<UINT>{ID_GPS_OFF}, CheckedItems());
    EXPECT_EQ(5u, power().backlight_level());
    EXPECT_EQ(30u, BatteryTimeout());
    EXPECT_EQ(1, Refreshes()) << "only the refresh due after start-up";
}

TEST_F(MonitorTest, DisablingAPoweredReceiverRefreshesOnceWithTheStandardProfile) {
    StartWithReceiver(true);
    ASSERT_EQ(0u, BatteryTimeout());
    SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0);
    Ticks(1);
    EXPECT_EQ(30u, BatteryTimeout());
    EXPECT_EQ(180u, SuspendTimeout());
    EXPECT_EQ(2, Refreshes());
    Ticks(3);
    EXPECT_EQ(2, Refreshes());
}

TEST_F(MonitorTest, WithoutTheProfileKeyNoTimeoutIsWrittenAndTheRefreshWaits) {
    {
        host::QuietCalls quiet(device());
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKey(HKEY_CURRENT_USER, kProfileKey));
    }
    StartWithReceiver(false);
    Ticks(2);
    EXPECT_FALSE(BatteryTimeout().has_value()) << "zeros would switch both time-outs off";
    EXPECT_FALSE(SuspendTimeout().has_value());
    EXPECT_EQ(0, Refreshes());
    EXPECT_EQ(0, power().backlight_level_sets()) << "no brightness without the profile";

    SetDword(HKEY_CURRENT_USER, kProfileKey, u"STD_BlTimeOut", 45);
    SetDword(HKEY_CURRENT_USER, kProfileKey, u"STD_Backlight", 1);
    Ticks(1);
    EXPECT_EQ(45u, BatteryTimeout()) << "the pending refresh runs once the profile is there";
    EXPECT_EQ(1, Refreshes());
}

// Leaves message boxes open until the clock reaches `until`.
class SlowReader : public host::User {
public:
    explicit SlowReader(host::Millis until) : until_(until) {}
    bool Act() override {
        auto& device = host::Handheld::Current();
        if (!device.windows().TopModal() || device.clock().Now() < until_) return false;
        return device.windows().AcknowledgeTopModal();
    }

private:
    host::Millis until_;
};

TEST_F(MonitorTest, ALastingTrayFailureOpensOneBoxAtATime) {
    StartWithReceiver(false);
    host::Millis now = device().clock().Now();
    device().faults().FailNext("Shell_NotifyIcon", 1000, ERROR_GEN_FAILURE);
    SlowReader reader(now + 10000);
    device().SetUser(&reader);
    trace().Clear();
    Ticks(8);

    auto boxes = trace().Calls("MessageBox");
    ASSERT_EQ(2u, boxes.size()) << "one box held open over six ticks, then the next tick's";
    EXPECT_EQ("Shell_NotifyIcon Failure", boxes[0].Str("lpText"));
    EXPECT_GE(trace().Calls("Shell_NotifyIcon").size(), 7u) << "the ticks inside the box still ran";
    EXPECT_GE(power().backlight_level_sets(), 7);
}

}  // namespace
