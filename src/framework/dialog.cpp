#include "framework/dialog.h"

#include "framework/winapp.h"

namespace {

INT_PTR CALLBACK AfxDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd;
    if (message == WM_INITDIALOG) {
        pWnd = reinterpret_cast<CDialog*>(lParam);
        pWnd->Detach();
        pWnd->Attach(hDlg);
    } else {
        pWnd = CWnd::FromHandlePermanent(hDlg);
    }
    // Messages before WM_INITDIALOG are the dialog manager's alone.
    if (!pWnd) return FALSE;
    bool bDefaulted = false;
    LRESULT lResult = AfxCallWndProc(pWnd, message, wParam, lParam, &bDefaulted);
    if (bDefaulted) return FALSE;
    return message == WM_INITDIALOG ? static_cast<INT_PTR>(lResult) : TRUE;
}

}  // namespace

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    CWnd* pOwner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    INT_PTR nResult =
        ::DialogBoxParam(AfxGetResourceHandle(), MAKEINTRESOURCE(m_nIDTemplate),
                         pOwner ? pOwner->GetSafeHwnd() : nullptr, AfxDlgProc, reinterpret_cast<LPARAM>(this));
    Detach();  // the window is gone even if its WM_NCDESTROY never reached us
    return nResult;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::DefWindowProc(UINT, WPARAM, LPARAM) { return 0; }

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }
