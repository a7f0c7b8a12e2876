// The Windows entry point: everything else is the framework's.
#include "framework/winapp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return AfxWinMain(); }
