// A close that arrives while one of Pelorn's modal waits is open: each scenario in
// tests/scenarios/close-in-modal ends the process cleanly, the close's effects happen once, and
// nothing touches the device for the window after it is gone.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tools/scenario_support.h"

namespace {

struct Scenario {
    const char* file;
    const char* modal;   // the call whose wait the close ended
    const char* gpshdl;  // what the registry holds afterwards; empty: no value
    const char* fw;      // written after the window had gone (first-run provisioning), or empty
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.file; }

class CloseInModalTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(CloseInModalTest, EndsCleanlyWithTheCloseDoneOnceAndNothingAfter) {
    const Scenario& s = GetParam();
    pelorn_test::PlayedScenario played =
        pelorn_test::PlayScenario(pelorn_test::ScenarioFolder("close-in-modal"), s.file);
    ASSERT_EQ(0, played.rc) << s.file << ": " << played.err;
    EXPECT_EQ("", played.err);

    const std::vector<nlohmann::json>& trace = played.trace;
    std::string gpshdl;
    std::istringstream lines(played.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("    GPSHDL    REG_DWORD    ", 0) == 0) gpshdl = line.substr(27);
    nlohmann::json frame;  // the close stops the frame's timer, started or not
    for (const auto& r : trace)
        if (r["call"] == "KillTimer") frame = r["hWnd"];

    // Calls are written as they return: the modal call returns after the frame was destroyed.
    int destroyed = 0, menus = 0, timers = 0, quits = 0;
    bool modalEndedAfter = false;
    for (const auto& r : trace) {
        std::string call = r["call"];
        menus += call == "DestroyMenu";
        timers += call == "KillTimer";
        quits += call == "PostQuitMessage";
        if (call == "DestroyWindow" && r["hWnd"] == frame && r["result"] == 1) {
            ++destroyed;
            continue;
        }
        if (!destroyed) continue;
        modalEndedAfter = modalEndedAfter || call == s.modal;
        bool firmware = call == "RegSetValueEx" && r["name"] == "FW" && *s.fw;
        for (const char* effect : {"RegSetValueEx", "RegCreateKeyEx", "GpioWrite", "Shell_NotifyIcon", "SetTimer",
                                   "WriteFile", "DeviceIoControl", "SetEvent"})
            EXPECT_FALSE(call == effect && !firmware) << "after the window was gone: " << r;
    }
    EXPECT_EQ(1, destroyed);
    EXPECT_TRUE(modalEndedAfter) << s.modal << " was not open when the close came";
    EXPECT_EQ(1, menus);
    EXPECT_EQ(1, timers);
    EXPECT_EQ(1, quits);
    EXPECT_EQ(s.gpshdl, gpshdl);
    if (*s.fw) {
        EXPECT_NE(std::string::npos, played.out.find(std::string("    FW    REG_SZ    ") + s.fw));
    }
}

// A fresh device's first window is 0x10004.
INSTANTIATE_TEST_SUITE_P(EveryModalWait, CloseInModalTest,
                         ::testing::Values(Scenario{"tick-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"show-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"hide-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"close-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"nested-boxes.play", "MessageBox", "0x10004", ""},
                                           Scenario{"firmware-box.play", "MessageBox", "", " 00.00.00.00"},
                                           Scenario{"ioctl-box.play", "MessageBox", "0x0", ""},
                                           Scenario{"icon-box.play", "MessageBox", "", ""},
                                           Scenario{"reset-open-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"reset-GetCommState-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"reset-SetCommState-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"reset-SetCommTimeouts-box.play", "MessageBox", "0x10004", ""},
                                           Scenario{"about-dialog.play", "DialogBoxParam", "0x10004", ""},
                                           Scenario{"popup-menu.play", "TrackPopupMenu", "0x10004", ""}),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return pelorn_test::ScenarioTestName(info.param.file);
                         });

}  // namespace
