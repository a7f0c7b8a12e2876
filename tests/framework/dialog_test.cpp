// What the user sees of the framework: its message boxes and modal dialogs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "framework/framework_test.h"

namespace fwtest {
namespace {

using ::testing::ElementsAre;

class CProbeDialog : public CDialog {
public:
    CProbeDialog(Journal* journal, CWnd* pParentWnd = nullptr) : CDialog(IDD_TEST, pParentWnd), m_journal(journal) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_journal->push_back("init");
        CenterWindow();
        return TRUE;
    }

protected:
    void OnOK() override {
        m_journal->push_back("ok");
        CDialog::OnOK();
    }
    void OnCancel() override {
        m_journal->push_back("cancel");
        CDialog::OnCancel();
    }

private:
    Journal* m_journal;
};

std::vector<LONG> Corners(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

using MessageBoxes = FrameworkTest;

TEST_F(MessageBoxes, FrameworkBoxIsOwnedByTheMainWindowAndAWindowlessObjectsByNone) {
    AfxMessageBox(_T("Nobody home"));
    HWND hMain = LoadMainFrame()->GetSafeHwnd();
    CWnd windowless;

    EXPECT_EQ(IDOK, AfxMessageBox(_T("Receiver not found")));
    EXPECT_EQ(IDOK, AfxMessageBox(IDS_GREETING, MB_ICONSTOP));
    windowless.MessageBox(_T("First"));
    windowless.MessageBox(_T("Second"), _T("Port"), MB_ICONSTOP);

    auto boxes = trace().Calls("MessageBox");
    ASSERT_EQ(5u, boxes.size());
    EXPECT_EQ(0, boxes[0].Num("hWnd"));  // before there was a main window
    EXPECT_EQ("Tracker", boxes[0].Str("lpCaption"));
    EXPECT_EQ(Num(hMain), boxes[1].Num("hWnd"));
    EXPECT_EQ("Receiver not found", boxes[1].Str("lpText"));
    EXPECT_EQ("Tracker", boxes[1].Str("lpCaption"));
    EXPECT_EQ("0x0", boxes[1].Str("uType"));
    EXPECT_EQ("Hallo vom Gerät", boxes[2].Str("lpText"));
    EXPECT_EQ("0x10", boxes[2].Str("uType"));
    EXPECT_EQ(0, boxes[3].Num("hWnd"));  // even beside a main window
    EXPECT_EQ("Tracker", boxes[3].Str("lpCaption"));
    EXPECT_EQ("Port", boxes[4].Str("lpCaption"));
    ASSERT_EQ(5u, user.seen.size());
    EXPECT_EQ(u"Tracker", user.seen[1].caption);
    EXPECT_EQ(hMain, user.seen[1].window);
}

using ModalDialog = FrameworkTest;

TEST_F(ModalDialog, OkFromTheUserEndsTheDialogWithIdOk) {
    CProbeFrame* owner = LoadMainFrame();
    owner->SetWindowPos(nullptr, 10, 20, 220, 240, SWP_NOZORDER);  // off the work area's centre
    journal.clear();
    CProbeDialog dlg(&journal);

    EXPECT_EQ(IDOK, dlg.DoModal());

    EXPECT_THAT(journal, ElementsAre("init", "ok"));
    auto runs = trace().Calls("DialogBoxParam");
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(Num(owner->GetSafeHwnd()), runs[0].Num("hWndParent"));
    EXPECT_EQ("#100", runs[0].Str("lpTemplateName"));
    // The owner is hidden, so the 210 x 85 dialog sits in the middle of the 240 x 294 work area.
    ASSERT_EQ(1u, user.seen.size());
    EXPECT_EQ(host::Modal::Kind::kDialog, user.seen[0].kind);
    EXPECT_THAT(Corners(user.seen[0].rect), ElementsAre(15, 105, 225, 190));
    // The object lets go of its window when the dialog is over.
    EXPECT_EQ(nullptr, dlg.GetSafeHwnd());
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(user.seen[0].window));
}

TEST_F(ModalDialog, DialogCentresOnAVisibleOwner) {
    CProbeFrame* owner = LoadMainFrame();
    owner->ShowWindow(SW_SHOWNA);
    owner->SetWindowPos(nullptr, 10, 20, 220, 240, SWP_NOZORDER);  // centre (120, 140)
    CProbeDialog dlg(&journal, owner);

    EXPECT_EQ(IDOK, dlg.DoModal());

    ASSERT_EQ(1u, user.seen.size());
    EXPECT_THAT(Corners(user.seen[0].rect), ElementsAre(15, 98, 225, 183));
}

TEST_F(ModalDialog, ClosingTheDialogCancelsIt) {
    CProbeDialog dlg(&journal);
    // The close box: the dialog manager turns a WM_CLOSE the dialog leaves alone into IDCANCEL.
    user.instead = [](const host::Modal& m) { SendMessage(m.window, WM_CLOSE, 0, 0); };

    EXPECT_EQ(IDCANCEL, dlg.DoModal());

    EXPECT_THAT(journal, ElementsAre("init", "cancel"));
    EXPECT_EQ(0, trace().Calls("DialogBoxParam").at(0).Num("hWndParent"));
}

}  // namespace
}  // namespace fwtest
