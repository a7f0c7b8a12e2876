#include "framework/framework_test.h"

#include "platform/host/handheld.h"
#include "platform/host/resources.h"

namespace fwtest {

namespace {

CTestApp theApp;

const host::ResourceTable& Resources() {
    static const host::ResourceTable table = [] {
        host::ResourceTable t;
        t.strings[IDR_TEST_FRAME] = u"Pelorn\n\nPelorn\n\n\nPelorn.Document\nPelorn Document";
        t.strings[IDS_GREETING] = u"Hallo vom Gerät";
        t.strings[IDS_LONG] = std::u16string(300, u'x') + u"end";
        host::DialogTemplate d;
        d.cx = 140;  // 210 x 85 pixels
        d.cy = 57;
        d.style = 0x80C00040;
        d.caption = u"About";
        t.dialogs[IDD_TEST] = d;
        return t;
    }();
    return table;
}

}  // namespace

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
END_MESSAGE_MAP()

CTestApp& App() { return theApp; }

bool TestUser::Act() {
    auto& wm = host::Handheld::Current().windows();
    if (!wm.TopModal()) return false;
    seen.push_back(*wm.TopModal());
    if (!instead) return wm.AcknowledgeTopModal();
    auto step = std::move(instead);
    instead = nullptr;
    step(seen.back());
    return true;
}

IMPLEMENT_DYNAMIC(CProbeFrame, CFrameWnd)

BEGIN_MESSAGE_MAP(CProbeFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_ACTIVATE()
ON_WM_TIMER()
ON_COMMAND(ID_TEST_COMMAND, OnTestCommand)
ON_MESSAGE(WM_PING, OnPing)
END_MESSAGE_MAP()

BOOL CProbeFrame::PreCreateWindow(CREATESTRUCT& cs) {
    if (refuseCreation || !CFrameWnd::PreCreateWindow(cs)) return FALSE;
    if (useGeneratedClass) cs.lpszClass = AfxRegisterWndClass(0);
    return TRUE;
}

int CProbeFrame::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    Note("create " + Utf8(lpCreateStruct->lpszName));
    return m_createResult ? m_createResult : CFrameWnd::OnCreate(lpCreateStruct);
}

void CProbeFrame::OnDestroy() {
    Note("destroy");
    CFrameWnd::OnDestroy();
}

void CProbeFrame::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    TCHAR title[32] = {};
    if (pWndOther) ::GetWindowText(pWndOther->GetSafeHwnd(), title, 32);
    lastOther = pWndOther;
    Note("activate " + std::to_string(nState) + " from " + (pWndOther ? Utf8(title) : "none") +
         (bMinimized ? " minimized" : ""));
    CFrameWnd::OnActivate(nState, pWndOther, bMinimized);
}

LRESULT CProbeFrame::OnPing(WPARAM wParam, LPARAM lParam) {
    Note("ping " + std::to_string(wParam) + " " + std::to_string(lParam));
    return static_cast<LRESULT>(wParam) + lParam;
}

host::BootOptions FrameworkTest::Options() {
    host::BootOptions options;
    options.program = "Tracker";  // unlike the frame's title, so the two cannot be confused
    options.resources = &Resources();
    return options;
}

void FrameworkTest::SetUp() {
    DeviceTest::SetUp();
    device().SetUser(&user);
    App().m_pMainWnd = nullptr;
    App().init = nullptr;
    App().commands.clear();
    App().exits = 0;
}

void FrameworkTest::TearDown() {
    // What the test left open closes while the journal is still there for its frames.
    std::vector<HWND> open;
    for (const host::WindowInfo* info : windows().Windows())
        if (!info->owner) open.push_back(info->handle);
    for (HWND hWnd : open)
        if (IsWindow(hWnd)) DestroyWindow(hWnd);
    DeviceTest::TearDown();
}

CProbeFrame* FrameworkTest::LoadMainFrame() {
    auto* frame = new CProbeFrame(&journal);
    App().m_pMainWnd = frame;
    EXPECT_TRUE(frame->LoadFrame(IDR_TEST_FRAME, FWS_ADDTOTITLE));
    return frame;
}

std::int64_t Num(const void* handle) { return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(handle)); }

std::string Utf8(LPCTSTR s) { return s ? host::json::Utf8(s) : "(null)"; }

}  // namespace fwtest
