// CFrameWnd: a top-level window made from a resource set; frames live on the heap and delete
// themselves when their window is gone.
#pragma once

#include "framework/str.h"
#include "framework/wnd.h"

// Frame style bit: the title shows the document's name after the application's.
#define FWS_ADDTOTITLE 0x00008000L

class CFrameWnd : public CWnd {
    DECLARE_DYNCREATE(CFrameWnd)
public:
    CFrameWnd() = default;

    // Creates the window titled with the first '\n'-separated field of string nIDResource.
    // FALSE when the creation failed; the frame has then deleted itself.
    virtual BOOL LoadFrame(UINT nIDResource, DWORD dwDefaultStyle = FWS_ADDTOTITLE, CWnd* pParentWnd = nullptr,
                           void* pContext = nullptr);
    LPCTSTR GetTitle() const { return m_strTitle; }

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    // Commands the frame's own table does not take go to the application's.
    BOOL OnCmdMsg(UINT nID, int nCode) override;

protected:
    // The frame closes by destroying its window.
    void OnClose();
    void PostNcDestroy() override;

    CString m_strTitle;

    DECLARE_MESSAGE_MAP()
};
