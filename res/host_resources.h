// The application's resources for the virtual handheld.
#pragma once

#include <map>
#include <vector>

#include "platform/host/resources.h"

const host::ResourceTable& PelornResources();

// The icon files of res/icons/ by resource id, compiled in by res/icons.cmake.
std::map<UINT, std::vector<BYTE>> EmbeddedIcons();
