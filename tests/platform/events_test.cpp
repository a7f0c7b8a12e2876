#include <gtest/gtest.h>

#include <string>

#include "platform/host/handheld.h"
#include "platform/host/power.h"
#include "support/device_test.h"

namespace {

const std::u16string kBacklight = u"BackLightChangeEvent";
const std::u16string kPower = u"PowerManager/ReloadActivityTimeouts";

class EventsTest : public pelorn_test::DeviceTest {
protected:
    host::Events& events() { return device().power().events(); }
    HANDLE Open(const std::u16string& name, BOOL manual = FALSE, BOOL initial = FALSE) {
        return CreateEvent(nullptr, manual, initial, name.c_str());
    }
    // What the monitor does after a refresh.
    void Notify(const std::u16string& name) {
        HANDLE h = Open(name);
        EXPECT_TRUE(SetEvent(h));
        EXPECT_TRUE(CloseHandle(h));
    }
};

TEST_F(EventsTest, NameOpensTheLiveEventOfThatName) {
    SetLastError(1234);
    HANDLE first = Open(kBacklight);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    HANDLE second = Open(kBacklight);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_NE(first, second);
    EXPECT_TRUE(SetEvent(second));
    EXPECT_TRUE(events().IsSignalled(kBacklight));
    // Names are case-sensitive.
    Open(u"backlightchangeevent");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());

    auto opens = trace().Calls("CreateEvent");
    ASSERT_EQ(3u, opens.size());
    EXPECT_EQ("BackLightChangeEvent", opens[1].Str("lpName"));
    EXPECT_EQ("true", opens[1].Raw("existed"));
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(second), opens[1].Num("result"));
}

TEST_F(EventsTest, SetsAreRecordedByNameInOrderWithTheirTimes) {
    Notify(kBacklight);
    Notify(kPower);
    device().clock().SleepFor(1500);
    Notify(kBacklight);
    Notify(kPower);

    const auto& signals = events().signals();
    ASSERT_EQ(4u, signals.size());
    EXPECT_EQ(kBacklight, signals[2].name);
    EXPECT_EQ(kPower, signals[3].name);
    EXPECT_EQ(0, signals[1].t);
    EXPECT_EQ(1500, signals[2].t);
    EXPECT_EQ(2, events().SetCount(kBacklight));
    EXPECT_EQ(2, events().SetCount(kPower));
    auto sets = trace().Calls("SetEvent");
    EXPECT_EQ("PowerManager/ReloadActivityTimeouts", sets.at(3).Str("name"));
    EXPECT_EQ(trace().Calls("CreateEvent")[3].Num("result"), sets[3].Num("hEvent"));
}

TEST_F(EventsTest, AResidentProcessKeepsTheRecentSetsAndEveryCount) {
    trace().Enable(false);
    HANDLE h = Open(kBacklight);
    const std::size_t sets = 3 * host::Events::kSignalsKept;
    for (std::size_t i = 0; i < sets; ++i) {
        device().clock().SleepFor(1);
        SetEvent(h);
    }
    const auto& signals = events().signals();
    EXPECT_GE(signals.size(), host::Events::kSignalsKept);
    EXPECT_LE(signals.size(), 2 * host::Events::kSignalsKept);
    EXPECT_EQ(static_cast<host::Millis>(sets), signals.back().t);
    EXPECT_EQ(static_cast<int>(sets), events().SetCount(kBacklight));
}

TEST_F(EventsTest, ResetModesAndStatesAsThePlatformKeepsThem) {
    SetEvent(Open(kBacklight));
    // Nobody waited: it stays signalled until its owner's wait takes the signal.
    EXPECT_TRUE(events().Wait(kBacklight));
    EXPECT_FALSE(events().Wait(kBacklight));

    Open(kPower, TRUE, TRUE);
    EXPECT_TRUE(events().Wait(kPower));
    // Opening an existing event keeps its mode and state, whatever the caller asks for.
    Open(kPower, FALSE, FALSE);
    EXPECT_TRUE(events().Wait(kPower));
    EXPECT_TRUE(events().IsSignalled(kPower));
}

TEST_F(EventsTest, AnEventLivesWhileAHandleToItIsOpen) {
    HANDLE a = Open(kBacklight);
    HANDLE b = Open(kBacklight);
    EXPECT_TRUE(SetEvent(a));
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(events().IsSignalled(kBacklight));
    EXPECT_FALSE(SetEvent(a));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    EXPECT_TRUE(CloseHandle(b));
    EXPECT_FALSE(events().Exists(kBacklight));
    Open(kBacklight);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_FALSE(events().IsSignalled(kBacklight));
    EXPECT_EQ(1, events().SetCount(kBacklight));
}

TEST_F(EventsTest, UnnamedEventsWrongHandlesAndFaults) {
    HANDLE x = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, x);
    EXPECT_NE(x, CreateEvent(nullptr, FALSE, FALSE, _T("")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_TRUE(SetEvent(x));
    EXPECT_TRUE(events().signals().empty());

    HANDLE bkl = CreateFile(_T("BKL1:"), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(SetEvent(bkl));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    device().faults().FailNext("CreateEvent", 1, ERROR_OUTOFMEMORY);
    EXPECT_EQ(nullptr, Open(kPower));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OUTOFMEMORY), GetLastError());
    EXPECT_FALSE(events().Exists(kPower));
    device().faults().FailNext("SetEvent", 1, ERROR_GEN_FAILURE);
    EXPECT_FALSE(SetEvent(Open(kPower)));
    EXPECT_EQ(0, events().SetCount(kPower));
}

}  // namespace
