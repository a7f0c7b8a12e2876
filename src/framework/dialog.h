// CDialog: a modal dialog made from a dialog template resource.
#pragma once

#include "framework/wnd.h"

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    // Owned by pParentWnd, or by the application's main window when that is null.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog until EndDialog and returns its result; -1 when it could not be shown.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    // After the dialog's controls exist and before it is shown; TRUE lets the platform set focus.
    virtual BOOL OnInitDialog();

protected:
    virtual void OnOK();
    virtual void OnCancel();
    // Default handling of a dialog message is the platform dialog manager's.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
