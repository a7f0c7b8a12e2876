// The small `handheld` commands, one .cpp each; argv[0] is the command's name. The families have
// their own folders and headers: reg/reg.h, play/play.h, simulate/simulate.h.
#pragma once

namespace handheld {

int SendMain(int argc, char** argv);      // send.cpp
int SetMain(int argc, char** argv);       // set.cpp
int PortsMain(int argc, char** argv);     // ports.cpp
int StatusMain(int argc, char** argv);    // status.cpp
int CheckMain(int argc, char** argv);     // check.cpp
int ReceiverMain(int argc, char** argv);  // receiver.cpp
int ProfileMain(int argc, char** argv);   // profile.cpp
int FirmwareMain(int argc, char** argv);  // firmware.cpp

}  // namespace handheld
