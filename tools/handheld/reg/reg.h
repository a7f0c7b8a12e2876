// `handheld reg`: query or change the device's registry, as reg.exe does.
#pragma once

namespace handheld {

int RegMain(int argc, char** argv);

}  // namespace handheld
