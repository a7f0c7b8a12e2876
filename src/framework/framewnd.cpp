#include "framework/framewnd.h"

#include "framework/winapp.h"

namespace {
const TCHAR kFrameClass[] = _T("AfxFrame");
}

IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_WM_CLOSE()
END_MESSAGE_MAP()

BOOL CFrameWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, CWnd* pParentWnd, void* pContext) {
    CString strFull;
    if (strFull.LoadString(nIDResource)) {
        int nEnd = strFull.Find(_T('\n'));
        m_strTitle = nEnd < 0 ? strFull : strFull.Left(nEnd);
    }
    // A copy: a failed creation deletes this frame, and its title with it, inside CreateEx.
    CString strTitle = m_strTitle;
    return CreateEx(0, nullptr, strTitle, dwDefaultStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr, nullptr, pContext);
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT& cs) {
    if (!cs.lpszClass) {
        if (!AfxEnsureWndClass(kFrameClass)) return FALSE;
        cs.lpszClass = kFrameClass;
    }
    return TRUE;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode) {
    if (CWnd::OnCmdMsg(nID, nCode)) return TRUE;
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->OnCmdMsg(nID, nCode);
}

void CFrameWnd::OnClose() { DestroyWindow(); }

void CFrameWnd::PostNcDestroy() { delete this; }
