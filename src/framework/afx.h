// The framework in one include: application, windows, frames, dialogs, menus, strings.
#pragma once

#include "framework/cmdtarget.h"
#include "framework/dialog.h"
#include "framework/framewnd.h"
#include "framework/menu.h"
#include "framework/object.h"
#include "framework/str.h"
#include "framework/winapp.h"
#include "framework/wnd.h"
