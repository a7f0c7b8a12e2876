#include "platform/host/sysfs.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/host/trace.h"

namespace host {

std::string SysfsFolder(const std::u16string& setting, const char* class_folder) {
    if (setting.empty()) return {};
    std::string path = json::Utf8(setting);
    if (path.find('/') != std::string::npos) return path;
    return std::string(class_folder) + "/" + path;
}

std::optional<long long> ReadSysfsNumber(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string text;
    std::getline(in, text);
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno != 0) return std::nullopt;
    while (*end == ' ' || *end == '\t' || *end == '\r')
        ++end;
    if (*end != '\0') return std::nullopt;
    return v;
}

}  // namespace host
