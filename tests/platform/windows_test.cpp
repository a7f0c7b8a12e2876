#include "platform/host/windows.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

struct Seen {
    host::Millis t;
    UINT msg;
    WPARAM wp;
};

// A plain window whose procedure records what it gets and runs the test's reaction.
class WindowsTest : public pelorn_test::DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        self = this;
        WNDCLASS wc{};
        wc.lpfnWndProc = &WindowsTest::Proc;
        wc.lpszClassName = _T("TestWindow");
        ASSERT_NE(0, RegisterClass(&wc));
    }
    void TearDown() override {
        DeviceTest::TearDown();
        self = nullptr;
    }

    HWND Create() {
        return CreateWindowEx(0, _T("TestWindow"), _T("test"), 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    }
    host::WindowManager& wm() { return device().windows(); }
    std::vector<host::Millis> Ticks() const {
        std::vector<host::Millis> out;
        for (const auto& s : seen)
            if (s.msg == WM_TIMER) out.push_back(s.t);
        return out;
    }

    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        self->seen.push_back({self->device().clock().Now(), msg, wp});
        if (self->react) {
            LRESULT r = 0;
            if (self->react(h, msg, wp, lp, &r)) return r;
        }
        return DefWindowProc(h, msg, wp, lp);
    }

    static WindowsTest* self;
    std::vector<Seen> seen;
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> react;
};
WindowsTest* WindowsTest::self = nullptr;

// A user who answers the innermost box once `when` says so.
class ScriptedUser : public host::User {
public:
    explicit ScriptedUser(std::function<bool()> when) : when_(std::move(when)) {}
    bool Act() override {
        auto& wm = host::Handheld::Current().windows();
        if (!wm.TopModal() || !when_()) return false;
        return wm.AcknowledgeTopModal();
    }

private:
    std::function<bool()> when_;
};

TEST_F(WindowsTest, CreationSendsCreateAndAFailedCreateDestroysTheWindow) {
    HWND h = Create();
    ASSERT_NE(nullptr, h);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(static_cast<UINT>(WM_NCCREATE), seen[0].msg);
    EXPECT_EQ(static_cast<UINT>(WM_CREATE), seen[1].msg);
    EXPECT_FALSE(IsWindowVisible(h));

    seen.clear();
    react = [](HWND, UINT msg, WPARAM, LPARAM, LRESULT* r) {
        if (msg != WM_CREATE) return false;
        *r = -1;
        return true;
    };
    EXPECT_EQ(nullptr, Create());
    std::vector<UINT> order;
    for (const auto& s : seen)
        order.push_back(s.msg);
    EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}), order);
}

TEST_F(WindowsTest, SendReturnsTheHandlersResultAndFailsCleanlyForAGoneWindow) {
    HWND h = Create();
    react = [](HWND, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
        if (msg != WM_USER + 7) return false;
        *r = static_cast<LRESULT>(wp + lp);
        return true;
    };
    EXPECT_EQ(42, SendMessage(h, WM_USER + 7, 40, 2));

    ASSERT_TRUE(DestroyWindow(h));
    SetLastError(0);
    EXPECT_EQ(0, SendMessage(h, WM_USER + 7, 40, 2));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(WindowsTest, PostedMessagesArriveInOrderAndBeforeTimers) {
    HWND h = Create();
    ASSERT_EQ(1u, SetTimer(h, 1, 100, nullptr));
    Sleep(100);  // the timer is now due, and nobody has looked yet
    seen.clear();
    PostMessage(h, WM_USER + 1, 0, 0);
    PostMessage(h, WM_USER + 2, 0, 0);
    wm().RunFor(0);
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ(static_cast<UINT>(WM_USER + 1), seen[0].msg);
    EXPECT_EQ(static_cast<UINT>(WM_USER + 2), seen[1].msg);
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), seen[2].msg);
}

TEST_F(WindowsTest, TimersTickOnTheVirtualClockAndStopWhenKilled) {
    HWND h = Create();
    ASSERT_NE(0u, SetTimer(h, 1, 1500, nullptr));
    wm().RunFor(5000);
    EXPECT_EQ((std::vector<host::Millis>{1500, 3000, 4500}), Ticks());
    EXPECT_EQ(5000, device().clock().Now());

    EXPECT_TRUE(KillTimer(h, 1));
    EXPECT_FALSE(KillTimer(h, 1)) << "a timer that is not running";
    EXPECT_FALSE(KillTimer(h, 0));
    seen.clear();
    wm().RunFor(5000);
    EXPECT_TRUE(Ticks().empty());
}

std::vector<UINT_PTR> g_called;  // timer callbacks called, by the id they were given
void CALLBACK Registered(HWND, UINT, UINT_PTR id, DWORD) { g_called.push_back(id); }
void CALLBACK Planted(HWND, UINT, UINT_PTR id, DWORD) { g_called.push_back(1000 + id); }

TEST_F(WindowsTest, APostedTimerCallsOnlyACallbackSetTimerWasGiven) {
    HWND h = Create();
    ASSERT_NE(0u, SetTimer(h, 1, 1500, Registered));
    // Anybody may post WM_TIMER with any lParam; an address SetTimer never saw is not called.
    for (auto proc : {&Planted, &Registered})
        ASSERT_TRUE(PostMessage(h, WM_TIMER, 2, reinterpret_cast<LPARAM>(proc)));
    wm().RunFor(1500);
    EXPECT_EQ((std::vector<UINT_PTR>{2, 1}), g_called);
}

TEST_F(WindowsTest, AHeldLoopGetsAtMostOnePendingTick) {
    HWND h = Create();
    SetTimer(h, 1, 1500, nullptr);
    react = [](HWND, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_USER) Sleep(5000);  // holds the loop over three periods
        return false;
    };
    PostMessage(h, WM_USER, 0, 0);
    wm().RunFor(5999);
    // One tick as soon as the loop is free again; the missed periods are gone, the cadence kept.
    EXPECT_EQ((std::vector<host::Millis>{5000}), Ticks());
    wm().RunFor(1501);
    EXPECT_EQ((std::vector<host::Millis>{5000, 6000, 7500}), Ticks());
}

TEST_F(WindowsTest, TicksAreServedInsideAMessageBox) {
    HWND h = Create();
    SetTimer(h, 1, 1500, nullptr);
    ScriptedUser user([&] { return Ticks().size() >= 2; });
    device().SetUser(&user);
    int result = 0;
    react = [&](HWND w, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_USER) result = MessageBox(w, _T("Text"), _T("Caption"), MB_OK);
        return false;
    };
    PostMessage(h, WM_USER, 0, 0);
    wm().RunFor(10);
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ((std::vector<host::Millis>{1500, 3000}), Ticks());
    EXPECT_EQ(3000, device().clock().Now()) << "the box was answered right after the second tick";
    EXPECT_EQ(nullptr, wm().TopModal());

    auto boxes = trace().Calls("MessageBox");
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Text", boxes[0].Str("lpText"));
    EXPECT_EQ("Caption", boxes[0].Str("lpCaption"));
    EXPECT_EQ(IDOK, boxes[0].Num("result"));
    EXPECT_EQ(0, boxes[0].t);
    device().SetUser(nullptr);
}

TEST_F(WindowsTest, QuitEndsAModalLoopAndReachesTheOuterLoop) {
    HWND h = Create();
    react = [](HWND w, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_USER) MessageBox(w, _T("Text"), nullptr, MB_OK);
        if (msg == WM_USER + 1) PostQuitMessage(3);
        return false;
    };
    ScriptedUser never([] { return false; });
    device().SetUser(&never);
    PostMessage(h, WM_USER, 0, 0);
    PostMessage(h, WM_USER + 1, 0, 0);
    EXPECT_FALSE(wm().RunFor(1000));
    EXPECT_TRUE(wm().quit());
    EXPECT_EQ(3, wm().exit_code());
    device().SetUser(nullptr);
}

TEST_F(WindowsTest, NothingLeftToDoIsReportedNotHung) {
    Create();
    MSG m;
    EXPECT_THROW(GetMessage(&m, nullptr, 0, 0), host::Deadlock);
}

TEST_F(WindowsTest, ShowingActivatesAndHidingDeactivates) {
    HWND h = Create();
    ShowWindow(h, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(h));
    ShowWindow(h, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(h));
    SetForegroundWindow(h);
    std::vector<std::pair<UINT, WPARAM>> activations;
    for (const auto& s : seen)
        if (s.msg == WM_ACTIVATE) activations.emplace_back(s.msg, s.wp);
    EXPECT_EQ((std::vector<std::pair<UINT, WPARAM>>{
                  {WM_ACTIVATE, WA_ACTIVE}, {WM_ACTIVATE, WA_INACTIVE}, {WM_ACTIVATE, WA_ACTIVE}}),
              activations);
}

TEST_F(WindowsTest, WindowHandlesAre32BitAndNeverReusedOnADevice) {
    HWND first = Create();
    DestroyWindow(first);
    HWND second = Create();
    Reboot();
    WNDCLASS wc{};
    wc.lpfnWndProc = &WindowsTest::Proc;
    wc.lpszClassName = _T("TestWindow");
    RegisterClass(&wc);
    HWND third = Create();
    auto value = [](HWND h) { return reinterpret_cast<ULONG_PTR>(h); };
    EXPECT_LE(value(third), 0xFFFFFFFFu);
    EXPECT_NE(value(first), value(second));
    EXPECT_NE(value(second), value(third));
    EXPECT_NE(value(first), value(third));
}

}  // namespace
