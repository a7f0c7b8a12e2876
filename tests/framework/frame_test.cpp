// Frames: loading from a resource set, failing to load, and the application's life around the
// main frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "framework/framework_test.h"

namespace fwtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using FrameWindow = FrameworkTest;

TEST_F(FrameWindow, LoadFrameTitlesTheWindowWithTheFirstFieldOfItsString) {
    CProbeFrame* frame = LoadMainFrame();
    ASSERT_TRUE((new CProbeFrame(&journal))->LoadFrame(IDR_TEST_FRAME));

    const host::WindowInfo* info = windows().Find(frame->GetSafeHwnd());
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(u"Pelorn", info->title);
    EXPECT_FALSE(info->visible);
    auto created = trace().Calls("CreateWindowEx");
    ASSERT_EQ(2u, created.size());
    EXPECT_EQ("Pelorn", created[0].Str("lpWindowName"));
    EXPECT_EQ("0x8000", created[0].Str("dwStyle"));
    // The framework's frame class, registered once, before its first window.
    auto registered = trace().Calls("RegisterClass");
    ASSERT_EQ(1u, registered.size());
    EXPECT_EQ(registered[0].Str("lpszClassName"), created[0].Str("lpClassName"));
    EXPECT_EQ(created[0].Str("lpClassName"), created[1].Str("lpClassName"));
    EXPECT_THAT(journal, ElementsAre("create Pelorn", "create Pelorn"));
}

TEST_F(FrameWindow, GeneratedClassesAreRegisteredOncePerArgumentSet) {
    LPCTSTR plain = AfxRegisterWndClass(0);
    LPCTSTR withIcon = AfxRegisterWndClass(0, nullptr, nullptr, reinterpret_cast<HICON>(0x90));
    ASSERT_NE(nullptr, plain);
    ASSERT_NE(nullptr, withIcon);
    EXPECT_EQ(plain, AfxRegisterWndClass(0));
    EXPECT_THAT(Utf8(plain), StartsWith("Afx:"));
    EXPECT_NE(Utf8(plain), Utf8(withIcon));
    EXPECT_EQ(2u, trace().Calls("RegisterClass").size());

    auto* frame = new CProbeFrame(&journal);
    frame->useGeneratedClass = true;
    ASSERT_TRUE(frame->LoadFrame(IDR_TEST_FRAME));
    EXPECT_EQ(Utf8(plain), trace().Calls("CreateWindowEx").at(0).Str("lpClassName"));
}

TEST_F(FrameWindow, LoadFrameFailsAndTheFrameIsGoneWhenOnCreateRefuses) {
    auto* refusing = new CProbeFrame(&journal, -1);
    App().m_pMainWnd = refusing;
    EXPECT_FALSE(refusing->LoadFrame(IDR_TEST_FRAME));
    EXPECT_THAT(journal, ElementsAre("create Pelorn", "destroy", "deleted"));
    EXPECT_EQ(nullptr, AfxGetMainWnd());
    EXPECT_THAT(windows().Windows(), IsEmpty());

    // Refused before there is a window at all.
    journal.clear();
    auto* early = new CProbeFrame(&journal);
    early->refuseCreation = true;
    App().m_pMainWnd = early;
    EXPECT_FALSE(early->LoadFrame(IDR_TEST_FRAME));
    EXPECT_THAT(journal, ElementsAre("deleted"));
    EXPECT_EQ(1u, trace().Calls("CreateWindowEx").size());
    EXPECT_EQ(nullptr, AfxGetMainWnd());
}

TEST_F(FrameWindow, ClosingTheMainWindowEndsTheLoopAndDeletesTheFrame) {
    HWND hWnd = nullptr;
    App().init = [&] {
        hWnd = LoadMainFrame()->GetSafeHwnd();
        PostMessage(hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    };

    EXPECT_EQ(0, AfxWinMain());

    EXPECT_THAT(journal, ElementsAre("create Pelorn", "destroy", "deleted"));
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, AfxGetMainWnd());
    EXPECT_EQ(1, App().exits);
    std::vector<std::string> calls;
    for (const auto& e : trace().entries())
        if (e.call == "DestroyWindow" || e.call == "PostQuitMessage")
            calls.push_back(std::string(e.call) + " " + e.Raw("nExitCode"));
    EXPECT_THAT(calls, ElementsAre("DestroyWindow ", "PostQuitMessage 0"));
}

TEST_F(FrameWindow, FailedInitInstanceEndsTheApplicationWithoutItsLoop) {
    App().init = [&] {
        PostMessage(LoadMainFrame()->GetSafeHwnd(), WM_PING, 1, 1);
        return FALSE;
    };

    AfxWinMain();

    // The posted message was never dispatched; the main window went at once.
    EXPECT_THAT(journal, ElementsAre("create Pelorn", "destroy", "deleted"));
    EXPECT_EQ(1, App().exits);
    EXPECT_EQ(nullptr, AfxGetMainWnd());
}

}  // namespace
}  // namespace fwtest
