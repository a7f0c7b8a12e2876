// The platform seam: the subset of the Win32 / Windows CE API that the system calls.
//
// System code includes this header and nothing else from the platform. On Windows it is
// <windows.h> plus small stand-ins for what exists only on the handheld; elsewhere it is the
// virtual handheld's declaration of the same names, types, values and record layouts.
#pragma once

#if defined(_WIN32)
#include "platform/win32/seam.h"
#else
#include "platform/host/seam.h"
#endif
