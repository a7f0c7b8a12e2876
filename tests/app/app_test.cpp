#include <gtest/gtest.h>

#include <string>

#include "app/switch_app.h"
#include "frame/main_frame.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"
#include "res/resource.h"
#include "support/device_test.h"

namespace {

class AppTest : public pelorn_test::DeviceTest {
protected:
    host::BootOptions Options() override {
        host::BootOptions o;
        o.program = "Pelorn";
        o.resources = &PelornResources();
        return o;
    }
    void SetUp() override {
        DeviceTest::SetUp();
        CMainFrame::ResetProcessState();
        theApp.SetCurrentHandles();
    }
    void TearDown() override {
        DeviceTest::TearDown();  // destroys the window, which deletes the frame
        theApp.m_pMainWnd = nullptr;
    }
    HWND MainWindow() const { return theApp.m_pMainWnd ? theApp.m_pMainWnd->GetSafeHwnd() : nullptr; }
    host::WindowManager& wm() { return device().windows(); }
};

TEST_F(AppTest, InitInstanceCreatesTheHiddenFrameTitledFromResourceSet128) {
    ASSERT_TRUE(theApp.InitInstance());
    HWND h = MainWindow();
    ASSERT_NE(nullptr, h);

    const host::WindowInfo* info = wm().Find(h);
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(u"Pelorn", info->title);
    EXPECT_FALSE(info->visible);
    ASSERT_TRUE(theApp.m_pMainWnd->IsKindOf(RUNTIME_CLASS(CMainFrame)));
    EXPECT_STREQ("CMainFrame", theApp.m_pMainWnd->GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(std::u16string(u"Tavro - Software Switch Applications"), theApp.m_pszRegistryKey);

    // Created with the add-to-title style alone, then hidden.
    auto creates = trace().Calls("CreateWindowEx");
    ASSERT_EQ(1u, creates.size());
    EXPECT_EQ("0x8000", creates[0].Str("dwStyle"));
    EXPECT_EQ("Pelorn", creates[0].Str("lpWindowName"));
    auto shows = trace().Calls("ShowWindow");
    ASSERT_FALSE(shows.empty());
    EXPECT_EQ(SW_HIDE, shows.back().Num("nCmdShow"));

    // A class of its own: no class style, cursor, background or icon.
    WNDCLASS wc{};
    ASSERT_TRUE(GetClassInfo(nullptr, info->class_name.c_str(), &wc));
    EXPECT_EQ(0u, wc.style);
    EXPECT_EQ(nullptr, wc.hCursor);
    EXPECT_EQ(nullptr, wc.hbrBackground);
    EXPECT_EQ(nullptr, wc.hIcon);
}

TEST_F(AppTest, AFrameThatCannotBeCreatedEndsTheApplicationWithNothingHidden) {
    device().faults().FailNext("CreateWindowEx", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
    EXPECT_TRUE(trace().Calls("ShowWindow").empty());
}

TEST_F(AppTest, TheWindowStaysHiddenWhateverActivatesIt) {
    ASSERT_TRUE(theApp.InitInstance());
    HWND h = MainWindow();

    ShowWindow(h, SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(h));
    ShowWindow(h, SW_SHOWNORMAL);
    EXPECT_FALSE(IsWindowVisible(h));
    SetForegroundWindow(h);
    EXPECT_FALSE(IsWindowVisible(h));
    SendMessage(h, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(IsWindowVisible(h));
}

// The person at the device looks at the About box, then presses its OK button.
class AboutViewer : public host::User {
public:
    bool Act() override {
        auto& wm = host::Handheld::Current().windows();
        const host::Modal* top = wm.TopModal();
        if (!top) return false;
        if (top->kind == host::Modal::Kind::kDialog) {
            seen = true;
            caption = top->caption;
            rect = top->rect;
            const host::WindowInfo* dlg = wm.Find(top->window);
            dialog_id = dlg ? dlg->dialog_id : 0;
            HWND version = GetDlgItem(top->window, IDC_ABOUT_VERSION);
            if (const host::WindowInfo* line = wm.Find(version)) version_text = line->title;
        }
        return wm.AcknowledgeTopModal();
    }
    bool seen = false;
    std::u16string caption;
    std::u16string version_text;
    RECT rect{};
    int dialog_id = 0;
};

TEST_F(AppTest, TheAboutCommandShowsDialog100CentredAndReturnsOnOk) {
    ASSERT_TRUE(theApp.InitInstance());
    AboutViewer viewer;
    device().SetUser(&viewer);
    SendMessage(MainWindow(), WM_COMMAND, ID_APP_ABOUT, 0);
    device().SetUser(nullptr);

    ASSERT_TRUE(viewer.seen);
    EXPECT_EQ(IDD_ABOUTBOX, viewer.dialog_id);
    EXPECT_EQ(u"About Pelorn", viewer.caption);
    EXPECT_EQ(u"Pelorn Version 1.0", viewer.version_text);
    // The hidden owner does not count: the box is centred in the work area above the taskbar.
    RECT work{};
    SystemParametersInfo(SPI_GETWORKAREA, 0, &work, 0);
    int width = viewer.rect.right - viewer.rect.left, height = viewer.rect.bottom - viewer.rect.top;
    EXPECT_EQ(140 * host::kDialogBaseX / 4, width);
    EXPECT_EQ(57 * host::kDialogBaseY / 8, height);
    EXPECT_EQ((work.left + work.right) / 2 - width / 2, viewer.rect.left);
    EXPECT_EQ((work.top + work.bottom) / 2 - height / 2, viewer.rect.top);
    EXPECT_EQ(nullptr, wm().TopModal());

    auto dialogs = trace().Calls("DialogBoxParam");
    ASSERT_EQ(1u, dialogs.size());
    EXPECT_EQ(IDOK, dialogs[0].Num("result"));
}

}  // namespace
