#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/device_test.h"

namespace {

using FaultsTest = pelorn_test::DeviceTest;

// A fault list as PELORN_FAIL gives it: the calls it names fail, with the error and as often as
// it says; a list with any part not understood arms nothing.
TEST_F(FaultsTest, AFaultListArmsTheCallsItNamesOrNothing) {
    struct Case {
        const char* spec;
        bool armed;
        std::vector<LONG> opens;  // three RegOpenKeyEx in a row
        DWORD menu_error;         // of one CreatePopupMenu; 0 when it succeeds
    };
    const Case cases[] = {
        {"RegOpenKeyEx", true, {ERROR_GEN_FAILURE, 0, 0}, 0},
        {"RegOpenKeyEx:2:0xE,CreatePopupMenu", true, {14, 14, 0}, ERROR_GEN_FAILURE},
        {",CreatePopupMenu:1:8,", true, {0, 0, 0}, 8},
        {"RegOpenKeyEx,Nope", false, {0, 0, 0}, 0},
        {"Sleep", false, {0, 0, 0}, 0},
        {"RegOpenKeyEx:0", false, {0, 0, 0}, 0},
        {"RegOpenKeyEx:-1", false, {0, 0, 0}, 0},
        {"RegOpenKeyEx:x", false, {0, 0, 0}, 0},
        {"RegOpenKeyEx:1:2:3", false, {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_EQ(c.armed, device().faults().Arm(c.spec, &problem)) << c.spec;
        EXPECT_EQ(c.armed, problem.empty()) << c.spec << ": " << problem;
        std::vector<LONG> opens;
        for (int i = 0; i < 3; ++i) {
            HKEY key = nullptr;
            opens.push_back(RegOpenKeyEx(HKEY_CURRENT_USER, u"Software", 0, 0, &key));
            if (key) RegCloseKey(key);
        }
        EXPECT_EQ(c.opens, opens) << c.spec;
        SetLastError(0);
        HMENU menu = CreatePopupMenu();
        EXPECT_EQ(c.menu_error, menu ? 0 : GetLastError()) << c.spec;
        if (menu) DestroyMenu(menu);
    }
}

// A call made while only other calls were armed still fails once it is armed itself, and only
// as often as armed.
TEST_F(FaultsTest, ACallMadeWhileOthersWereArmedFailsOnceArmedItself) {
    device().faults().FailNext("CreatePopupMenu", 1, 8);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software", 0, 0, &key));
    RegCloseKey(key);
    device().faults().FailNext("RegOpenKeyEx", 1, 14);
    EXPECT_EQ(14, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software", 0, 0, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software", 0, 0, &key));
    RegCloseKey(key);
}

}  // namespace
