#include "frame/main_frame.h"

#include "res/resource.h"

IMPLEMENT_DYNAMIC(CMainFrame, CFrameWnd)

BEGIN_MESSAGE_MAP(CMainFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_CLOSE()
ON_WM_ACTIVATE()
ON_COMMAND(ID_GPS_ON, OnGpsOn)
ON_COMMAND(ID_GPS_OFF, OnGpsOff)
ON_WM_TIMER()
ON_MESSAGE(WM_TRAY_NOTIFY, OnTrayNotify)
ON_MESSAGE(WM_SHOW_TRAY_ICON, OnShowTrayIcon)
ON_MESSAGE(WM_HIDE_TRAY_ICON, OnHideTrayIcon)
ON_MESSAGE(WM_RESET_GPS, OnResetGps)
END_MESSAGE_MAP()

CMainFrame::CMainFrame()
    : m_pGpioRegs(nullptr),
      m_hIcons{nullptr, nullptr, nullptr},
      m_mode(GPS_MODE_OFF),
      m_disabled(0),
      m_timerId(0),
      m_firmware{},
      m_hGpsPort(INVALID_HANDLE_VALUE),
      m_tickDepth(0),
      m_tickFailureShown(FALSE),
      m_closing(FALSE) {}

CMainFrame::~CMainFrame() {}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) {
    if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
    cs.lpszClass = AfxRegisterWndClass(0, nullptr, nullptr, nullptr);
    return TRUE;
}

// A message served inside a tick's failure box (show, hide, close, a menu pick) is no tick: its
// own tray failure is shown in a box as always. Only ticks go without one while a tick's box is open.
LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) return CFrameWnd::WindowProc(message, wParam, lParam);
    int ticks = m_tickDepth;
    m_tickDepth = 0;
    LRESULT result = CFrameWnd::WindowProc(message, wParam, lParam);
    // The framework deletes the frame only after its last handler has returned.
    m_tickDepth = ticks;
    return result;
}

// The window is never shown, whoever activates it.
void CMainFrame::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    CFrameWnd::OnActivate(nState, pWndOther, bMinimized);
    ShowWindow(SW_HIDE);
}
