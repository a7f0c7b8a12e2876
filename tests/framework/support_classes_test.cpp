// CMenu, CString and run-time class information.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "framework/framework_test.h"

namespace fwtest {
namespace {

using Menu = FrameworkTest;

TEST_F(Menu, AttachedMenuGoesWithItsObjectAndADetachedOneStays) {
    HMENU destroyed = nullptr;
    HMENU kept = nullptr;
    {
        CMenu menu;
        ASSERT_TRUE(menu.CreatePopupMenu());
        EXPECT_FALSE(menu.CreatePopupMenu());  // one menu per object
        destroyed = menu.GetSafeHmenu();
        CMenu other;
        ASSERT_TRUE(other.CreatePopupMenu());
        kept = other.Detach();
    }

    EXPECT_FALSE(IsMenu(destroyed));
    EXPECT_TRUE(IsMenu(kept));
    auto calls = trace().Calls("DestroyMenu");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(Num(destroyed), calls[0].Num("hMenu"));
}

TEST_F(Menu, ItemsChecksAndTrackingReachThePlatform) {
    CProbeFrame* frame = LoadMainFrame();
    CMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    ASSERT_TRUE(menu.AppendMenu(MF_STRING, ID_TEST_COMMAND, _T("GPS On")));

    menu.CheckMenuItem(ID_TEST_COMMAND, MF_BYCOMMAND | MF_CHECKED);
    EXPECT_EQ(static_cast<UINT>(MF_CHECKED), menu.CheckMenuItem(ID_TEST_COMMAND, MF_BYCOMMAND | MF_UNCHECKED));
    menu.TrackPopupMenu(TPM_LEFTALIGN | TPM_BOTTOMALIGN, 100, 319, frame);

    ASSERT_EQ(1u, user.seen.size());
    EXPECT_EQ(host::Modal::Kind::kMenu, user.seen[0].kind);
    EXPECT_EQ(menu.GetSafeHmenu(), user.seen[0].menu);
    EXPECT_EQ(frame->GetSafeHwnd(), user.seen[0].window);
}

using String = FrameworkTest;

TEST_F(String, LoadsFromTheStringTableAndSlicesWithinItsText) {
    CString s(_T("previous"));
    ASSERT_TRUE(s.LoadString(IDS_LONG));  // longer than the first buffer
    EXPECT_EQ(303, s.GetLength());
    EXPECT_EQ(300, s.Find(_T("end")));
    EXPECT_FALSE(s.LoadString(999));
    EXPECT_TRUE(s.IsEmpty());

    ASSERT_TRUE(s.LoadString(IDR_TEST_FRAME));
    EXPECT_EQ(7, s.Find(_T('\n'), 7));
    EXPECT_EQ(-1, s.Find(_T('x'), 99));
    EXPECT_EQ("Document", Utf8(s.Mid(s.ReverseFind(_T('.')) + 1, 8)));
    EXPECT_EQ("Pel", Utf8(s.Mid(-5, 3)));
    EXPECT_EQ(s.GetLength(), s.Left(999).GetLength());
}

TEST(RuntimeClass, KindFollowsTheChainOfBaseClasses) {
    Journal journal;
    CProbeFrame frame(&journal);

    EXPECT_STREQ("CProbeFrame", frame.GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(RUNTIME_CLASS(CFrameWnd), frame.GetRuntimeClass()->m_pBaseClass);
    for (const CRuntimeClass* base : {RUNTIME_CLASS(CProbeFrame), RUNTIME_CLASS(CFrameWnd), RUNTIME_CLASS(CWnd),
                                      RUNTIME_CLASS(CCmdTarget), RUNTIME_CLASS(CObject)})
        EXPECT_TRUE(frame.IsKindOf(base)) << base->m_lpszClassName;
    EXPECT_FALSE(frame.IsKindOf(RUNTIME_CLASS(CDialog)));

    CObject* made = RUNTIME_CLASS(CFrameWnd)->CreateObject();  // DECLARE_DYNCREATE
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(RUNTIME_CLASS(CFrameWnd), made->GetRuntimeClass());
    delete made;
    EXPECT_EQ(nullptr, RUNTIME_CLASS(CWnd)->CreateObject());
}

}  // namespace
}  // namespace fwtest
