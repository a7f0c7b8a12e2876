// The tray icon, its menu, the show and hide messages, and switching the receiver's power.
#include <gtest/gtest.h>

#include <functional>

#include "frame/frame_test.h"
#include "res/resource.h"

namespace {

using pelorn_test::FrameTest;

// Taps the icon and picks an item (or dismisses the menu); acknowledges any message box.
class MenuUser : public host::User {
public:
    explicit MenuUser(std::function<void()> on_menu) : on_menu_(std::move(on_menu)) {}
    bool Act() override {
        auto& wm = host::Handheld::Current().windows();
        const host::Modal* top = wm.TopModal();
        if (!top) return false;
        if (top->kind == host::Modal::Kind::kMenu) {
            menu_rect = top->rect;
            on_menu_();
            return true;
        }
        return wm.AcknowledgeTopModal();
    }
    RECT menu_rect{};

private:
    std::function<void()> on_menu_;
};

class TrayTest : public FrameTest {
protected:
    // Chooses `id` from the menu the way a person does: tap the icon, then the item.
    void Choose(UINT id) {
        MenuUser user([&] { shell().ChooseMenuItem(id); });
        device().SetUser(&user);
        ASSERT_TRUE(shell().TapTray(TRAY_ICON_UID, 200, 305));
        wm().RunFor(0);
        device().SetUser(nullptr);
    }
    std::vector<std::string> SetUpCalls() {
        std::vector<std::string> out;
        for (const auto& e : trace().entries()) {
            if (e.call == "RegOpenKeyEx") break;  // the tray set-up is done
            if (e.call == "CreatePopupMenu" || e.call == "AppendMenu" || e.call == "CheckMenuItem" ||
                e.call == "LoadImage" || e.call == "Shell_NotifyIcon" || e.call == "MessageBox")
                out.push_back(std::string(e.call) + (e.Has("lpText") ? " " + e.Str("lpText") : ""));
        }
        return out;
    }
    // Whether the monitor follows pin 38 (as an enabled system does): raises it, serves two ticks.
    bool FollowsPin38() {
        gpio().DrivePin38(true);
        trace().Clear();
        Ticks(2);
        return !PinWrites().empty() && CheckedItems() == std::vector<UINT>{ID_GPS_ON};
    }
};

TEST_F(TrayTest, SetUpBuildsTheMenuLoadsTheIconsAndAddsTheOffIcon) {
    Start();
    EXPECT_EQ((std::vector<std::string>{"CreatePopupMenu", "AppendMenu", "AppendMenu", "CheckMenuItem", "LoadImage",
                                        "LoadImage", "LoadImage", "Shell_NotifyIcon"}),
              SetUpCalls());

    auto appends = trace().Calls("AppendMenu");
    ASSERT_EQ(2u, appends.size());
    EXPECT_EQ("GPS On", appends[0].Str("lpNewItem"));
    EXPECT_EQ(ID_GPS_ON, appends[0].Num("uIDNewItem"));
    EXPECT_EQ("GPS OFF", appends[1].Str("lpNewItem"));
    EXPECT_EQ(ID_GPS_OFF, appends[1].Num("uIDNewItem"));
    auto loads = trace().Calls("LoadImage");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(IDI_GPS_ON_A + i, loads[i].Num("name"));
        EXPECT_EQ(16, loads[i].Num("cx"));
        EXPECT_EQ(16, loads[i].Num("cy"));
    }

    auto add = trace().Calls("Shell_NotifyIcon").at(0);
    EXPECT_EQ(NIM_ADD, add.Num("dwMessage"));
    EXPECT_EQ(152, add.Num("cbSize"));
    EXPECT_EQ(static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(Window())), add.Num("hWnd"));
    EXPECT_EQ(TRAY_ICON_UID, add.Num("uID"));
    EXPECT_EQ("0x3", add.Str("uFlags"));
    EXPECT_EQ("0xBD1", add.Str("uCallbackMessage"));
    EXPECT_EQ(IDI_GPS_OFF, add.Num("icon"));

    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon());
    EXPECT_EQ(std::vector<UINT>{ID_GPS_OFF}, CheckedItems());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrayTest, EachSetUpFailureIsShownAndTheSetUpGoesOn) {
    device().faults().FailNext("CreatePopupMenu", 1, ERROR_NOT_ENOUGH_MEMORY);
    Start();
    auto calls = SetUpCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("MessageBox CreatePopupMenu Failure", calls[1]);
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon()) << "the icon is added all the same";
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"GPSHDL")) << "start-up went on";
}

TEST_F(TrayTest, AFailedIconLoadIsNamedByIndexAndAMissingOffIconAddsNoIcon) {
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        if (failing > 0) {
            theApp.m_pMainWnd->DestroyWindow();
            Reboot();
            CMainFrame::ResetProcessState();
        }
        device().faults().FailNext("LoadImage", 1, ERROR_RESOURCE_NAME_NOT_FOUND, failing);
        Start();

        std::vector<std::string> expected = {"Error: LoadImage[" + std::to_string(failing) + "] Failure!"};
        if (failing == 2) expected.push_back("Load TrayIcon Failure");
        EXPECT_EQ(expected, Boxes());
        EXPECT_EQ(failing == 2 ? 0u : static_cast<UINT>(IDI_GPS_OFF), TrayIcon());
        EXPECT_EQ(failing == 2 ? 0u : 1u, trace().Calls("Shell_NotifyIcon").size());
        EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"GPSHDL")) << "start-up went on";
    }
}

TEST_F(TrayTest, ATrayFailureIsShownAndStartUpGoesOn) {
    device().faults().FailNext("Shell_NotifyIcon", 1, ERROR_GEN_FAILURE);
    Start();
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes());
    EXPECT_EQ(0u, TrayIcon());
    EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"GPSHDL"));
}

TEST_F(TrayTest, ATapOpensTheMenuWithItsBottomRightCornerAtTheTapColumnAndRow319) {
    Start();
    trace().Clear();
    MenuUser user([&] { shell().DismissMenu(); });
    device().SetUser(&user);
    ASSERT_TRUE(shell().TapTray(TRAY_ICON_UID, 203, 301));
    wm().RunFor(0);

    EXPECT_EQ(203, user.menu_rect.right);
    EXPECT_EQ(319, user.menu_rect.bottom);
    auto tracks = trace().Calls("TrackPopupMenu");
    ASSERT_EQ(1u, tracks.size());
    EXPECT_EQ("0x28", tracks[0].Str("uFlags"));
    EXPECT_EQ(203, tracks[0].Num("x"));
    EXPECT_EQ(319, tracks[0].Num("y"));
    EXPECT_EQ(static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(Window())), tracks[0].Num("hWnd"));
    EXPECT_TRUE(PinWrites().empty()) << "dismissing the menu chooses nothing";
}

TEST_F(TrayTest, SwitchingOnRaisesPin38Then21AndSwitchingOffLowers21Then38) {
    gpio().DrivePin38(false);  // the receiver is off before anything runs
    Start();
    trace().Clear();

    Choose(ID_GPS_ON);
    auto on = PinWrites();
    ASSERT_EQ(2u, on.size());
    host::Millis t = trace().Calls("GpioWrite")[0].t;
    EXPECT_EQ("0x1C@" + std::to_string(t), on[0]);
    EXPECT_EQ("0x18@" + std::to_string(t + 100), on[1]);
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_ON_A), TrayIcon());
    EXPECT_EQ(std::vector<UINT>{ID_GPS_ON}, CheckedItems());
    EXPECT_TRUE(gpio().OutputLevel(38));
    EXPECT_TRUE(gpio().OutputLevel(21));

    trace().Clear();
    Choose(ID_GPS_OFF);
    auto off = PinWrites();
    ASSERT_EQ(2u, off.size());
    t = trace().Calls("GpioWrite")[0].t;
    EXPECT_EQ("0x24@" + std::to_string(t), off[0]);
    EXPECT_EQ("0x28@" + std::to_string(t + 100), off[1]);
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_ON_B), TrayIcon()) << "icons[1] until the next tick";
    EXPECT_EQ(std::vector<UINT>{ID_GPS_OFF}, CheckedItems());
    EXPECT_FALSE(gpio().OutputLevel(38));
    EXPECT_FALSE(gpio().OutputLevel(21));
}

TEST_F(TrayTest, ChoosingTheCheckedItemTouchesNothing) {
    Start();
    trace().Clear();
    Choose(ID_GPS_OFF);
    EXPECT_TRUE(PinWrites().empty());
    EXPECT_TRUE(trace().Calls("Shell_NotifyIcon").empty());
    EXPECT_TRUE(trace().Calls("CheckMenuItem").empty());
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon());
    EXPECT_EQ(std::vector<UINT>{ID_GPS_OFF}, CheckedItems());
}

TEST_F(TrayTest, ShowWhileShownFailsVisiblyYetEnablesAndHideTwiceStaysDisabled) {
    gpio().DrivePin38(false);
    Start();
    Ticks(1);
    trace().Clear();

    // Hidden twice: the second delete fails with its message; the system stays disabled.
    EXPECT_EQ(1, SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0));
    EXPECT_EQ(0u, TrayIcon());
    EXPECT_EQ(1, SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes());
    gpio().DrivePin38(true);
    trace().Clear();
    Ticks(2);
    EXPECT_TRUE(trace().Calls("Shell_NotifyIcon").empty()) << "disabled: the monitor leaves the icon alone";
    EXPECT_TRUE(PinWrites().empty()) << "and the mode";

    // Shown, then shown again: the add fails with its message, and the system is enabled.
    EXPECT_EQ(1, SendMessage(Window(), WM_SHOW_TRAY_ICON, 0, 0));
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_ON_B), TrayIcon()) << "icons[mode], and the mode is still off";
    trace().Clear();
    EXPECT_EQ(1, SendMessage(Window(), WM_SHOW_TRAY_ICON, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes());
    Ticks(1);
    EXPECT_EQ(std::vector<UINT>{ID_GPS_ON}, CheckedItems()) << "enabled again: the monitor follows pin 38";
}

TEST_F(TrayTest, HideWithTheTrayRefusingTheDeleteShowsOneBoxAndDisablesAllTheSame) {
    gpio().DrivePin38(false);
    Start();
    Ticks(1);
    trace().Clear();
    device().faults().FailNext("Shell_NotifyIcon", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(1, SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes());
    EXPECT_EQ(static_cast<UINT>(IDI_GPS_OFF), TrayIcon()) << "the refused delete left the icon";
    EXPECT_FALSE(FollowsPin38()) << "disabled";
    EXPECT_TRUE(trace().Calls("Shell_NotifyIcon").empty());
}

TEST_F(TrayTest, ShowWithTheTrayRefusingTheAddShowsOneBoxAndEnablesAllTheSame) {
    gpio().DrivePin38(false);
    Start();
    Ticks(1);
    ASSERT_EQ(1, SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0));
    trace().Clear();
    device().faults().FailNext("Shell_NotifyIcon", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(1, SendMessage(Window(), WM_SHOW_TRAY_ICON, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes());
    EXPECT_EQ(0u, TrayIcon());
    EXPECT_TRUE(FollowsPin38()) << "enabled";
}

TEST_F(TrayTest, HandlersAreSafeWhenStartUpStoppedAtTheBacklightDriver) {
    power().SetBacklightPresent(false);
    Start();
    EXPECT_EQ(0u, TrayIcon());
    EXPECT_EQ(nullptr, Menu());
    trace().Clear();

    SendMessage(Window(), WM_COMMAND, ID_GPS_ON, 0);
    SendMessage(Window(), WM_COMMAND, ID_GPS_OFF, 0);
    SendMessage(Window(), WM_SHOW_TRAY_ICON, 0, 0);
    SendMessage(Window(), WM_HIDE_TRAY_ICON, 0, 0);
    EXPECT_TRUE(PinWrites().empty()) << "no register block yet";
    EXPECT_TRUE(trace().Calls("GpioRead").empty());
    for (const auto& e : trace().Calls("Shell_NotifyIcon"))
        EXPECT_EQ(0, e.Num("hIcon"));

    trace().Clear();
    SendMessage(Window(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(Window()));
    EXPECT_EQ(std::vector<std::string>{"Shell_NotifyIcon Failure"}, Boxes()) << "there was no icon to delete";
    auto kills = trace().Calls("KillTimer");
    ASSERT_EQ(1u, kills.size());
    EXPECT_EQ(0, kills[0].Num("result")) << "the construction value stops no timer";
    theApp.m_pMainWnd = nullptr;
}

}  // namespace
