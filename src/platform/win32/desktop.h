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

}  // namespace desktop
