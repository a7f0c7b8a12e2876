#include "framework/wnd.h"

#include <map>
#include <new>
#include <set>
#include <string>

#include "framework/winapp.h"

// Not every platform header names the minimised style bit.
#ifndef WS_MINIMIZE
#define WS_MINIMIZE 0x20000000L
#endif

namespace {

// The message being handled, innermost first: handlers nest inside modal loops.
struct MsgState {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool defaulted;
    MsgState* prev;
};

thread_local MsgState* t_pMsgTop = nullptr;
// The object whose CreateWindowEx is running and which has not seen its first message yet.
thread_local CWnd* t_pWndInit = nullptr;
// The handle that object was bound to.
thread_local HWND t_hWndInit = nullptr;
thread_local std::map<HWND, CWnd*> t_permanentMap;
thread_local std::map<HWND, CWnd*> t_temporaryMap;

const TCHAR kWndClass[] = _T("AfxWnd");

void DeleteTemporaries() {
    for (auto& entry : t_temporaryMap) {
        entry.second->m_hWnd = nullptr;
        delete entry.second;
    }
    t_temporaryMap.clear();
}

void AppendHex(std::basic_string<TCHAR>& s, ULONG_PTR v) {
    TCHAR digits[2 * sizeof v];
    int n = 0;
    do {
        unsigned d = static_cast<unsigned>(v & 0xF);
        digits[n++] = static_cast<TCHAR>(d < 10 ? _T('0') + d : _T('A') + d - 10);
        v >>= 4;
    } while (v);
    while (n)
        s += digits[--n];
}

}  // namespace

// What CWnd keeps to itself but the window and dialog procedures need.
struct AfxWndInternals {
    // The window is gone: forget the main window, unbind, and give the object its last call, at
    // once unless a handler of the object still runs further up the stack.
    static void EndOfWindow(CWnd* pWnd) {
        CWinApp* pApp = AfxGetApp();
        if (pApp && pApp->m_pMainWnd == pWnd) pApp->m_pMainWnd = nullptr;
        if (pWnd->m_hWnd) pWnd->Detach();
        if (pWnd->m_nHandlersRunning > 0)
            pWnd->m_bNcDestroyPending = true;
        else
            pWnd->PostNcDestroy();
    }

    // Runs one message; the object may be gone afterwards.
    static LRESULT Handle(CWnd* pWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
        ++pWnd->m_nHandlersRunning;
        LRESULT lResult = pWnd->WindowProc(nMsg, wParam, lParam);
        if (nMsg == WM_DESTROY && AfxGetMainWnd() == pWnd) ::PostQuitMessage(0);
        --pWnd->m_nHandlersRunning;
        if (nMsg == WM_NCDESTROY) {
            EndOfWindow(pWnd);
        } else if (pWnd->m_bNcDestroyPending && pWnd->m_nHandlersRunning == 0) {
            pWnd->m_bNcDestroyPending = false;
            pWnd->PostNcDestroy();
        }
        return lResult;
    }
};

BOOL AfxEnsureWndClass(LPCTSTR lpszClassName, UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
    // Asked of the platform each time: a class lives as long as its module, not this process.
    HINSTANCE hInst = AfxGetInstanceHandle();
    WNDCLASS wc{};
    if (::GetClassInfo(hInst, lpszClassName, &wc)) return TRUE;
    wc.style = nClassStyle;
    wc.lpfnWndProc = AfxWndProc;
    wc.hInstance = hInst;
    wc.hIcon = hIcon;
    wc.hCursor = hCursor;
    wc.hbrBackground = hbrBackground;
    wc.lpszClassName = lpszClassName;
    return ::RegisterClass(&wc) != 0;
}

LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
    static std::set<std::basic_string<TCHAR>> names;  // the returned pointers stay valid
    std::basic_string<TCHAR> name = _T("Afx:");
    AppendHex(name, reinterpret_cast<ULONG_PTR>(AfxGetInstanceHandle()));
    for (ULONG_PTR v : {static_cast<ULONG_PTR>(nClassStyle), reinterpret_cast<ULONG_PTR>(hCursor),
                        reinterpret_cast<ULONG_PTR>(hbrBackground), reinterpret_cast<ULONG_PTR>(hIcon)}) {
        name += _T(':');
        AppendHex(name, v);
    }
    LPCTSTR stored = names.insert(name).first->c_str();
    return AfxEnsureWndClass(stored, nClassStyle, hCursor, hbrBackground, hIcon) ? stored : nullptr;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd;
    if (t_pWndInit) {
        // The first message of a window CreateEx is making: whatever the map held for this
        // handle value belonged to a window that no longer exists.
        pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        t_hWndInit = hWnd;
        t_permanentMap[hWnd] = pWnd;
        pWnd->m_hWnd = hWnd;
    } else {
        pWnd = CWnd::FromHandlePermanent(hWnd);
    }
    if (!pWnd) return ::DefWindowProc(hWnd, nMsg, wParam, lParam);
    return AfxCallWndProc(pWnd, nMsg, wParam, lParam);
}

LRESULT AfxCallWndProc(CWnd* pWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, bool* pDefaulted) {
    MsgState state{nMsg, wParam, lParam, false, t_pMsgTop};
    t_pMsgTop = &state;
    LRESULT lResult = AfxWndInternals::Handle(pWnd, nMsg, wParam, lParam);
    t_pMsgTop = state.prev;
    if (pDefaulted) *pDefaulted = state.defaulted;
    if (!t_pMsgTop) DeleteTemporaries();
    return lResult;
}

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::~CWnd() {
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this) ::DestroyWindow(Detach());
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    auto it = t_permanentMap.find(hWnd);
    return it == t_permanentMap.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd)) return p;
    CWnd*& temp = t_temporaryMap[hWnd];
    if (!temp) {
        temp = new (std::nothrow) CWnd;
        if (!temp) {
            t_temporaryMap.erase(hWnd);
            return nullptr;
        }
        temp->m_hWnd = hWnd;
    }
    return temp;
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (!hWndNew || m_hWnd) return FALSE;
    t_permanentMap[hWndNew] = this;
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd) {
        auto it = t_permanentMap.find(hWnd);
        if (it != t_permanentMap.end() && it->second == this) t_permanentMap.erase(it);
    }
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT& cs) {
    if (!cs.lpszClass) {
        if (!AfxEnsureWndClass(kWndClass)) return FALSE;
        cs.lpszClass = kWndClass;
    }
    return TRUE;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam) {
    CREATESTRUCT cs{};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = static_cast<LONG>(dwStyle);
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs)) {
        AfxWndInternals::EndOfWindow(this);
        return FALSE;
    }

    CWnd* pOldInit = t_pWndInit;
    HWND hOldInit = t_hWndInit;
    t_pWndInit = this;
    t_hWndInit = nullptr;
    HWND hWnd = ::CreateWindowEx(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y,
                                 cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    bool bound = t_pWndInit != this;
    HWND hBound = t_hWndInit;
    t_pWndInit = pOldInit;
    t_hWndInit = hOldInit;

    if (hWnd) {
        if (!bound) Attach(hWnd);  // a class whose procedure is not ours: bound, but it never hears
        return TRUE;
    }
    // Creation failed. If the window got far enough to be bound, WM_NCDESTROY has normally
    // finished with this object already (and may have deleted it).
    if (!bound || FromHandlePermanent(hBound) == this) AfxWndInternals::EndOfWindow(this);
    return FALSE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }

BOOL CWnd::SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

int CWnd::MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption, UINT nType) {
    return ::MessageBox(m_hWnd, lpszText, lpszCaption ? lpszCaption : AfxGetAppName(), nType);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    HWND hWndCenter = pAlternateOwner ? pAlternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    if (hWndCenter && (!::IsWindowVisible(hWndCenter) || (::GetWindowLong(hWndCenter, GWL_STYLE) & WS_MINIMIZE)))
        hWndCenter = nullptr;

    RECT rcArea{};
    if (!::SystemParametersInfo(SPI_GETWORKAREA, 0, &rcArea, 0))
        rcArea = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    RECT rcCenter = rcArea;
    if (hWndCenter) ::GetWindowRect(hWndCenter, &rcCenter);

    RECT rcWnd{};
    ::GetWindowRect(m_hWnd, &rcWnd);
    int cx = rcWnd.right - rcWnd.left;
    int cy = rcWnd.bottom - rcWnd.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - cx / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - cy / 2;
    if (x + cx > rcArea.right) x = rcArea.right - cx;
    if (x < rcArea.left) x = rcArea.left;
    if (y + cy > rcArea.bottom) y = rcArea.bottom - cy;
    if (y < rcArea.top) y = rcArea.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CWnd::OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
void CWnd::OnClose() { Default(); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }

LRESULT CWnd::Default() {
    MsgState* state = t_pMsgTop;
    if (!state) return 0;
    state->defaulted = true;
    return DefWindowProc(state->message, state->wParam, state->lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT lResult = 0;
    if (OnWndMsg(message, wParam, lParam, &lResult)) return lResult;
    if (t_pMsgTop) t_pMsgTop->defaulted = true;
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *pResult = 1;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message, 0);
    if (!entry) return FALSE;
    *pResult = entry->pfn(this, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    int nCode = HIWORD(wParam);
    if (nCode == 1) nCode = CN_COMMAND;  // from an accelerator: the same command as the menu's
    return OnCmdMsg(LOWORD(wParam), nCode);
}

void CWnd::PostNcDestroy() {}
