// CWnd: a C++ object bound to a window handle, whose messages run through its message table.
#pragma once

#include "framework/cmdtarget.h"

// The framework's window procedure: every window class the framework registers uses it.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

// Registers (once per distinct argument set) a window class with the framework's window
// procedure and returns its generated name, valid for the life of the process; null on failure.
LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                            HICON hIcon = nullptr);

// Registers lpszClassName with the framework's window procedure unless the module has it already.
BOOL AfxEnsureWndClass(LPCTSTR lpszClassName, UINT nClassStyle = 0, HCURSOR hCursor = nullptr,
                       HBRUSH hbrBackground = nullptr, HICON hIcon = nullptr);

class CWnd;

// Runs one message through pWnd's handlers with the framework's bookkeeping around it: the
// current-message stack behind Default(), the end of the application on the main window's
// WM_DESTROY, and unbinding plus PostNcDestroy on WM_NCDESTROY. A window destroyed while one of
// its own handlers waits (in a modal loop, or by closing itself) is unbound at once, but its
// object gets PostNcDestroy only when its outermost handler has returned, so no handler on the
// stack runs on a freed object. *pDefaulted (when given) tells whether the message was left to
// default handling.
LRESULT AfxCallWndProc(CWnd* pWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, bool* pDefaulted = nullptr);

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    // A window still bound here is destroyed without running this object's handlers.
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // TRUE once the window is gone, for instance closed by a message served inside a modal wait
    // of the handler that asks: the object still lives until that handler returns.
    BOOL IsWindowGone() const { return m_hWnd == nullptr; }
    operator HWND() const { return m_hWnd; }

    // The object bound to hWnd; for a window the framework did not create, a temporary object
    // that lives until the outermost message being handled returns. Null for a null handle.
    static CWnd* FromHandle(HWND hWnd);
    // The object bound to hWnd, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();

    // Fills in what the caller left open (a null class becomes the framework's window class);
    // FALSE stops the creation.
    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    // Binds this object to the new window before its first message. On failure the object has
    // been through PostNcDestroy (a frame has deleted itself): do not touch it again.
    BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
                  int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    // The object may be gone when this returns (frames delete themselves).
    virtual BOOL DestroyWindow();

    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    void GetWindowRect(LPRECT lpRect) const;
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // Owned by this window (none if it has no window); a null caption is the application's name.
    int MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption = nullptr, UINT nType = MB_OK);
    // Centres this top-level window on its owner (or pAlternateOwner) when that is visible and
    // not minimised, otherwise on the work area; it never leaves the work area.
    void CenterWindow(CWnd* pAlternateOwner = nullptr);

protected:
    // Handlers bound by ON_WM_xxx entries; each gives the message its default handling.
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnClose();
    void OnDestroy();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnTimer(UINT_PTR nIDEvent);

    // Default handling of the message being handled now.
    LRESULT Default();
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // TRUE (and *pResult) when the message table has a handler.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_COMMAND: TRUE when some command table took LOWORD(wParam).
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // Last call for this object after its window is gone and none of its handlers still runs.
    virtual void PostNcDestroy();

private:
    int m_nHandlersRunning = 0;        // messages of this object being handled, nested or not
    bool m_bNcDestroyPending = false;  // the window is gone; PostNcDestroy waits for the handlers

    friend struct AfxWndInternals;
};
