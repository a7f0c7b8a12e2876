// The recorded receivers' output the suite replays: in ../shared/nmea-logs beside the source
// tree, or wherever PELORN_NMEA_LOGS names. Without them the tests that replay a log skip, and
// NmeaLogs.AreWhereTheSuiteLooks alone fails, saying where it looked and how to point elsewhere.
#pragma once

#include <string>

namespace pelorn_test {

std::string NmeaLogFolder();
bool HaveNmeaLogs();
// What a test that replays a log says when it skips.
constexpr const char* kNoNmeaLogs = "no receiver logs: see NmeaLogs.AreWhereTheSuiteLooks";

}  // namespace pelorn_test
