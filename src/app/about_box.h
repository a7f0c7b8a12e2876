// The About dialog.
#pragma once

#include "framework/afx.h"

class CAboutBox : public CDialog {
public:
    CAboutBox();

protected:
    BOOL OnInitDialog() override;
};
