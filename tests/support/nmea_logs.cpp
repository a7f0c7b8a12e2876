#include "support/nmea_logs.h"

#include <sys/stat.h>

#include <cstdlib>

namespace pelorn_test {

std::string NmeaLogFolder() {
    if (const char* env = std::getenv("PELORN_NMEA_LOGS"); env && *env) return env;
    std::string here = __FILE__;  // <root>/tests/support/this file
    return here.substr(0, here.rfind("/tests/support/")) + "/../shared/nmea-logs";
}

bool HaveNmeaLogs() {
    struct stat st {};
    return stat(NmeaLogFolder().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace pelorn_test
