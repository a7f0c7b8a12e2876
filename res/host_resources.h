// The application's resources for the virtual handheld.
#pragma once

#include "platform/host/resources.h"

const host::ResourceTable& PelornResources();
