// State that belongs to the process rather than to the window: the backlight driver stays open
// for the life of the process, and the monitor remembers across ticks.
#pragma once

#include "platform/win32api.h"

struct FrameProcessState {
    HANDLE backlight = INVALID_HANDLE_VALUE;  // "BKL1:", opened by the first window, never closed
    DWORD refreshPending = 0;                 // the next tick applies the power profile
    DWORD blinkPhase = 0;                     // icon shown on the last powered tick: 0 or 1
    DWORD lastGpsState = 0;                   // the previous tick's GPS state
    DWORD backlightRequest[2] = {0, 0};       // {12, level}, sent as 8 bytes
};

extern FrameProcessState g_process;
