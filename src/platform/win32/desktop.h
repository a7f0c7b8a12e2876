// Where the desktop's shell behaves unlike the handheld's, the platform makes it behave as the
// handheld does, so that the system's code sees one behaviour on both.
#pragma once

// For the platform's own files: the names mean the real calls.
#include "platform/win32/traced.h"

namespace desktop {

// The desktop's tray tells an icon's window of every mouse move, press and release over the
// icon; the handheld's taskbar posts one WM_LBUTTONDOWN per tap and nothing else. After this,
// the window's `message` arrives once per click, on the press (left or right button, single or
// double), with lParam WM_LBUTTONDOWN; the tray's other notifications never reach it.
void NotifyOncePerClick(HWND window, UINT message);

// TrackPopupMenu, but the menu is placed as the handheld places it: where asked, kept on the
// screen, over the taskbar when asked to be there (the desktop keeps menus off the taskbar).
BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect);

// DialogBoxParamW, except that a dialog whose template asks for the handheld's caption OK button
// (WS_EX_CAPTIONOKBTN) gets the desktop's close box, and closing it ends the dialog as that OK
// button does: the dialog is sent WM_COMMAND IDOK.
INT_PTR RunDialog(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                  LPARAM dwInitParam);

}  // namespace desktop
