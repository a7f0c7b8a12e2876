// The application object: creates the one hidden main window and serves the About command.
#pragma once

#include "framework/afx.h"

class CSwitchApp : public CWinApp {
public:
    CSwitchApp();
    BOOL InitInstance() override;

protected:
    void OnAppAbout();

    DECLARE_MESSAGE_MAP()
};

extern CSwitchApp theApp;
