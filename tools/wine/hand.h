// What the hand's files share (tools/wine/play_hand.c).
#pragma once
#include <windows.h>

#define WAIT_LIMIT_MS 10000

// One answer line on standard output.
void Answer(const char* format, ...);
// The registry requests: reg (queued, or at once), regwait, and dword/text values under HKCU.
void Reg(wchar_t** w, int n);
void RegWait(void);
void Value(wchar_t** w, DWORD type);
void Get(wchar_t** w);
