// Messages reach the handlers their tables name, by number, along the chain of base tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "framework/framework_test.h"

namespace fwtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr UINT WM_EXTRA = WM_USER + 2;

// Inherits the probe's table and puts a timer handler of its own in front of the probe's.
class CDerivedFrame : public CProbeFrame {
public:
    using CProbeFrame::CProbeFrame;

private:
    void OnTimer(UINT_PTR nIDEvent) { Note("derived timer " + std::to_string(nIDEvent)); }
    LRESULT OnExtra(WPARAM, LPARAM) { return 7; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedFrame, CProbeFrame)
ON_WM_TIMER()
ON_MESSAGE(WM_EXTRA, OnExtra)
END_MESSAGE_MAP()

// Asks before it closes, then leaves the close to the default handling.
class CAskingWnd : public CWnd {
public:
    explicit CAskingWnd(Journal* journal) : m_journal(journal) {}

protected:
    void OnClose() {
        m_journal->push_back("close");
        MessageBox(_T("Close?"));
        CWnd::OnClose();
    }

private:
    LRESULT OnPing(WPARAM, LPARAM) {
        m_journal->push_back("ping");
        return 1;
    }
    Journal* m_journal;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CAskingWnd, CWnd)
ON_WM_CLOSE()
ON_MESSAGE(WM_PING, OnPing)
END_MESSAGE_MAP()

BOOL CreatePlain(CWnd& wnd, LPCTSTR title) {
    return wnd.CreateEx(0, nullptr, title, 0, 0, 0, 20, 20, nullptr, nullptr);
}

using MessageTable = FrameworkTest;

TEST_F(MessageTable, EachKindOfEntryRunsItsHandler) {
    CProbeFrame* frame = LoadMainFrame();
    HWND hWnd = frame->GetSafeHwnd();
    CWnd bound;
    ASSERT_TRUE(CreatePlain(bound, _T("bound")));
    WNDCLASS wc{};
    wc.lpfnWndProc = DefWindowProc;
    wc.lpszClassName = _T("Foreign");
    ASSERT_NE(0, RegisterClass(&wc));
    HWND foreign = CreateWindowEx(0, _T("Foreign"), _T("foreign"), 0, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);

    EXPECT_EQ(5, SendMessage(hWnd, WM_PING, 2, 3));  // the sender gets the handler's result
    SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(ID_TEST_COMMAND, 0), 0);
    SendMessage(hWnd, WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 1), reinterpret_cast<LPARAM>(bound.GetSafeHwnd()));
    EXPECT_EQ(&bound, frame->lastOther);
    SendMessage(hWnd, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(foreign));
    frame->ShowWindow(SW_SHOW);
    ASSERT_EQ(7u, frame->SetTimer(7, 100));
    windows().RunFor(150);

    EXPECT_THAT(journal, ElementsAre("create Pelorn", "ping 2 3", "command", "activate 2 from bound minimized",
                                     "activate 0 from foreign", "activate 1 from none", "timer 7"));
}

TEST_F(MessageTable, DerivedTableReachesTheEntriesOfItsBases) {
    auto* frame = new CDerivedFrame(&journal);
    App().m_pMainWnd = frame;
    ASSERT_TRUE(frame->LoadFrame(IDR_TEST_FRAME));
    HWND hWnd = frame->GetSafeHwnd();

    EXPECT_EQ(9, SendMessage(hWnd, WM_PING, 4, 5));  // the probe's entry
    EXPECT_EQ(7, SendMessage(hWnd, WM_EXTRA, 0, 0));
    SendMessage(hWnd, WM_TIMER, 3, 0);  // its own handler hides the probe's
    SendMessage(hWnd, WM_CLOSE, 0, 0);  // the frame's entry closes it

    EXPECT_THAT(journal, ElementsAre("create Pelorn", "ping 4 5", "derived timer 3", "destroy", "deleted"));
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(MessageTable, MessagesWithoutEntriesGetDefaultHandling) {
    CWnd wnd;
    ASSERT_TRUE(CreatePlain(wnd, _T("plain")));
    HWND hWnd = wnd.GetSafeHwnd();

    EXPECT_EQ(0, SendMessage(hWnd, WM_USER + 50, 1, 2));
    SendMessage(hWnd, WM_CLOSE, 0, 0);

    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, wnd.GetSafeHwnd());  // unbound when the window went
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hWnd));
}

TEST_F(MessageTable, DefaultHandlesTheMessageOfItsOwnHandlerAfterNestedOnes) {
    CAskingWnd wnd(&journal);
    ASSERT_TRUE(CreatePlain(wnd, _T("asking")));
    HWND hWnd = wnd.GetSafeHwnd();
    // While the question is open, a message arrives and is handled inside the box's loop.
    user.instead = [hWnd](const host::Modal&) { PostMessage(hWnd, WM_PING, 0, 0); };

    SendMessage(hWnd, WM_CLOSE, 0, 0);

    EXPECT_THAT(journal, ElementsAre("close", "ping"));
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(MessageTable, CommandsTheFrameLacksGoToTheApplication) {
    HWND hWnd = LoadMainFrame()->GetSafeHwnd();
    CWnd plain;
    ASSERT_TRUE(CreatePlain(plain, _T("plain")));
    journal.clear();

    SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(ID_APP_ABOUT, 0), 0);
    SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(ID_TEST_COMMAND, 0), 0);
    SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(4242, 0), 0);
    EXPECT_THAT(App().commands, ElementsAre(ID_APP_ABOUT));
    EXPECT_THAT(journal, ElementsAre("command"));

    App().commands.clear();
    SendMessage(plain.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(ID_APP_ABOUT, 0), 0);  // only frames pass them on
    EXPECT_THAT(App().commands, IsEmpty());
}

}  // namespace
}  // namespace fwtest
