#include "app/about_box.h"

#include "res/resource.h"

CAboutBox::CAboutBox() : CDialog(IDD_ABOUTBOX) {}

BOOL CAboutBox::OnInitDialog() {
    CDialog::OnInitDialog();
    CenterWindow();
    return TRUE;
}
