#include "app/switch_app.h"

#include <new>

#include "app/about_box.h"
#include "frame/main_frame.h"
#include "res/resource.h"

CSwitchApp theApp;

BEGIN_MESSAGE_MAP(CSwitchApp, CWinApp)
ON_COMMAND(ID_APP_ABOUT, OnAppAbout)
END_MESSAGE_MAP()

CSwitchApp::CSwitchApp() {}

BOOL CSwitchApp::InitInstance() {
    SetRegistryKey(_T("Tavro - Software Switch Applications"));

    CMainFrame* frame = new (std::nothrow) CMainFrame;
    if (!frame) return FALSE;
    m_pMainWnd = frame;
    if (!frame->LoadFrame(IDR_FRAME, FWS_ADDTOTITLE, nullptr, nullptr)) {
        // A frame whose creation failed has already deleted itself.
        m_pMainWnd = nullptr;
        return FALSE;
    }
    frame->ShowWindow(SW_HIDE);
    return TRUE;
}

void CSwitchApp::OnAppAbout() {
    CAboutBox about;
    about.DoModal();
}
