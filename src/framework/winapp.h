// CWinApp: the one application object, its message loop, and the framework's global helpers.
#pragma once

#include "framework/cmdtarget.h"
#include "framework/str.h"

class CWnd;

// Commands the framework's resources use.
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 0xE140
#endif
#ifndef ID_APP_EXIT
#define ID_APP_EXIT 0xE141
#endif

class CWinApp : public CCmdTarget {
    DECLARE_DYNAMIC(CWinApp)
public:
    // Registers this object as the application; lpszAppName null: the executable's name.
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    LPCTSTR m_pszAppName = nullptr;      // "Pelorn" for \Windows\Pelorn.exe
    LPCTSTR m_pszRegistryKey = nullptr;  // company name, after SetRegistryKey

    // FALSE ends the application before its message loop.
    virtual BOOL InitInstance();
    // Returns the process's exit code.
    virtual int ExitInstance();
    // The message loop: until WM_QUIT, then ExitInstance.
    virtual int Run();
    // Every framework message box comes here.
    virtual int DoMessageBox(LPCTSTR lpszPrompt, UINT nType);

    void SetRegistryKey(LPCTSTR lpszRegistryKey);
    void SetRegistryKey(UINT nIDRegistryKey);

    // Reads the module's handle and, unless the constructor was given one, its name.
    void SetCurrentHandles();

protected:
    MSG m_msgCur{};  // the message the loop took last

private:
    CString m_strAppName;
    CString m_strRegistryKey;
    bool m_bAppNameGiven = false;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
LPCTSTR AfxGetAppName();

// InitInstance, then Run; the application's exit code.
int AfxWinMain();

// Modal, owned by the main window (none if there is none), captioned with the application's name.
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK);
