#include "framework/winapp.h"

#include "framework/wnd.h"

namespace {
CWinApp* g_pApp = nullptr;
}

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_strAppName(lpszAppName) {
    g_pApp = this;
    if (lpszAppName) {
        m_pszAppName = m_strAppName;
        m_bAppNameGiven = true;
    }
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

void CWinApp::SetCurrentHandles() {
    m_hInstance = ::GetModuleHandle(nullptr);
    // A name given to the constructor, or set by the application itself, stays.
    if (m_bAppNameGiven || (m_pszAppName && m_pszAppName != m_strAppName.GetString())) return;
    TCHAR szPath[260] = {};
    DWORD n = ::GetModuleFileName(nullptr, szPath, sizeof szPath / sizeof szPath[0]);
    CString strPath(szPath, static_cast<int>(n));
    int nStart = strPath.ReverseFind(_T('\\')) + 1;
    CString strName = strPath.Mid(nStart);
    int nDot = strName.ReverseFind(_T('.'));
    m_strAppName = nDot < 0 ? strName : strName.Left(nDot);
    m_pszAppName = m_strAppName;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

int CWinApp::Run() {
    for (;;) {
        BOOL bRet = ::GetMessage(&m_msgCur, nullptr, 0, 0);
        if (bRet == 0) break;
        if (bRet == -1) {
            m_msgCur.wParam = static_cast<WPARAM>(-1);
            break;
        }
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessage(&m_msgCur);
    }
    return ExitInstance();
}

int CWinApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType) {
    HWND hWndOwner = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    return ::MessageBox(hWndOwner, lpszPrompt, AfxGetAppName(), nType);
}

void CWinApp::SetRegistryKey(LPCTSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey;
    m_pszRegistryKey = m_strRegistryKey;
}

void CWinApp::SetRegistryKey(UINT nIDRegistryKey) {
    CString strKey;
    strKey.LoadString(nIDRegistryKey);
    SetRegistryKey(strKey);
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandle(nullptr); }

HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandle(nullptr); }

LPCTSTR AfxGetAppName() {
    if (!g_pApp) return nullptr;
    if (!g_pApp->m_pszAppName) g_pApp->SetCurrentHandles();
    return g_pApp->m_pszAppName;
}

int AfxWinMain() {
    CWinApp* pApp = AfxGetApp();
    if (!pApp) return -1;
    pApp->SetCurrentHandles();
    if (!pApp->InitInstance()) {
        if (pApp->m_pMainWnd) pApp->m_pMainWnd->DestroyWindow();
        return pApp->ExitInstance();
    }
    return pApp->Run();
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType) {
    if (!g_pApp) return ::MessageBox(nullptr, lpszText, nullptr, nType);
    return g_pApp->DoMessageBox(lpszText, nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    CString strPrompt;
    strPrompt.LoadString(nIDPrompt);
    return AfxMessageBox(strPrompt, nType);
}
