// The tray icon, its popup menu, and the two messages that show or hide it.
#include <cstring>

#include "frame/main_frame.h"
#include "res/resource.h"

namespace {

const UINT kIconIds[3] = {IDI_GPS_ON_A, IDI_GPS_ON_B, IDI_GPS_OFF};
const LPCTSTR kIconLoadErrors[3] = {_T("Error: LoadImage[0] Failure!"), _T("Error: LoadImage[1] Failure!"),
                                    _T("Error: LoadImage[2] Failure!")};
const int kIconSize = 16;
// The menu always opens upward from the bottom row of the screen.
const int kMenuBottomRow = 319;

}  // namespace

BOOL CMainFrame::NotifyTrayIcon(DWORD operation, HICON icon) {
    NOTIFYICONDATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = TRAY_ICON_UID;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = icon;
    if (Shell_NotifyIcon(operation, &data)) return TRUE;

    // A lasting tray failure must not pile up one box per monitor tick: ticks that run while a
    // tick's box is open go on without one.
    if (m_tickDepth > 0) {
        if (m_tickFailureShown) return FALSE;
        m_tickFailureShown = TRUE;
        AfxMessageBox(_T("Shell_NotifyIcon Failure"));
        m_tickFailureShown = FALSE;
        return FALSE;
    }
    AfxMessageBox(_T("Shell_NotifyIcon Failure"));
    return FALSE;
}

void CMainFrame::SetUpTray() {
    if (!m_menu.CreatePopupMenu()) {
        AfxMessageBox(_T("CreatePopupMenu Failure"));
        if (IsWindowGone()) return;
    }
    m_menu.AppendMenu(MF_STRING, ID_GPS_ON, _T("GPS On"));
    m_menu.AppendMenu(MF_STRING, ID_GPS_OFF, _T("GPS OFF"));
    m_menu.CheckMenuItem(ID_GPS_OFF, MF_CHECKED);

    for (int i = 0; i < 3; ++i) {
        m_hIcons[i] = static_cast<HICON>(LoadImage(AfxGetResourceHandle(), MAKEINTRESOURCE(kIconIds[i]), IMAGE_ICON,
                                                   kIconSize, kIconSize, LR_DEFAULTCOLOR));
        if (!m_hIcons[i]) {
            AfxMessageBox(kIconLoadErrors[i]);
            if (IsWindowGone()) return;
        }
    }

    if (m_hIcons[2])
        NotifyTrayIcon(NIM_ADD, m_hIcons[2]);
    else
        AfxMessageBox(_T("Load TrayIcon Failure"));
}

// Every notification opens the menu, whatever the mouse did.
LRESULT CMainFrame::OnTrayNotify(WPARAM, LPARAM) {
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    m_menu.TrackPopupMenu(TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, kMenuBottomRow, this);
    return 1;
}

LRESULT CMainFrame::OnShowTrayIcon(WPARAM, LPARAM) {
    NotifyTrayIcon(NIM_ADD, m_hIcons[m_mode]);
    m_disabled = 0;
    return 1;
}

LRESULT CMainFrame::OnHideTrayIcon(WPARAM, LPARAM) {
    NotifyTrayIcon(NIM_DELETE, m_hIcons[m_mode]);
    m_disabled = 1;
    return 1;
}
