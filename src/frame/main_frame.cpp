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

// The window is never shown, whoever activates it.
void CMainFrame::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized) {
    CFrameWnd::OnActivate(nState, pWndOther, bMinimized);
    ShowWindow(SW_HIDE);
}
