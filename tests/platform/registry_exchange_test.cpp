// A device's registry written by one build (x86-64, 32-bit ARM) reads the same, byte for byte, on
// every other. PELORN_REGISTRY_EXCHANGE names a folder the builds share: each writes its device
// there and reads every device it finds; PELORN_REGISTRY_EXCHANGE_EXPECT lists the builds whose
// devices must be among them. Without it the build reads back its own.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/trace.h"
#include "support/device_test.h"

namespace {

#if defined(__arm__)
const char kBuild[] = "arm";
#elif defined(__x86_64__)
const char kBuild[] = "x86-64";
#else
const char kBuild[] = "other";
#endif

struct Value {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const Value& o) const { return name == o.name && type == o.type && data == o.data; }
};
void PrintTo(const Value& v, std::ostream* os) {
    *os << host::json::Utf8(v.name) << " " << host::json::RegType(v.type) << " "
        << host::json::Bytes(v.data.data(), v.data.size());
}

std::vector<BYTE> Utf16(std::u16string s) {
    std::vector<BYTE> out;
    for (char16_t c : s + u'\0')
        out.insert(out.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
    return out;
}

std::vector<Value> Table() {
    std::vector<BYTE> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<BYTE>(i);
    return {{u"", REG_SZ, Utf16(u"Pelorn")},
            {u"GPSHDL", REG_DWORD, {0x34, 0x12, 0x00, 0x80}},  // a handle with its top bit set
            {u"Max", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
            {u"FW", REG_SZ, Utf16(u" 03.01.00.12")},
            {u"Größe Ω", REG_SZ, Utf16(u"Fehler beim Öffnen des COM Ports")},
            {u"Bytes", REG_BINARY, all},
            {u"Empty", REG_BINARY, {}},
            {u"Multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
            {u"QWord", 11, {8, 7, 6, 5, 4, 3, 2, 1}},
            {u"Odd", REG_NONE, {1, 2, 3}}};
}

const char16_t kPath[] = u"SOFTWARE\\Apps\\Tavro SW\\Geräte";

void Boot(const std::string& folder) { host::Handheld::Boot({folder, true, "", nullptr}); }

std::vector<Value> ReadAll(HKEY key) {
    std::vector<Value> out;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        BYTE data[512];
        DWORD n = 64, type = 0, size = sizeof data;
        if (RegEnumValue(key, i, name, &n, nullptr, &type, data, &size) != ERROR_SUCCESS) return out;
        out.push_back({std::u16string(name, n), type, std::vector<BYTE>(data, data + size)});
    }
}

TEST(RegistryExchange, EveryBuildReadsWhatEachBuildWroteByteForByte) {
    const char* shared = std::getenv("PELORN_REGISTRY_EXCHANGE");
    std::string exchange = shared && *shared ? shared : pelorn_test::MakeTempFolder("pelorn-exchange");
    pelorn_test::RemoveTree(exchange + "/" + kBuild);
    Boot(exchange + "/" + kBuild);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, 0, nullptr, &key, nullptr));
    for (const Value& v : Table())
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueEx(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())));
    RegCloseKey(key);
    host::Handheld::PowerOff();

    std::set<std::string> read;
    DIR* dir = opendir(exchange.c_str());
    ASSERT_NE(nullptr, dir);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        SCOPED_TRACE(std::string("written by the ") + e->d_name + " build, read by the " + kBuild + " build");
        Boot(exchange + "/" + e->d_name);
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPath, 0, 0, &key));
        EXPECT_EQ(Table(), ReadAll(key));
        RegCloseKey(key);
        host::Handheld::PowerOff();
        read.insert(e->d_name);
    }
    closedir(dir);
    const char* expect = std::getenv("PELORN_REGISTRY_EXCHANGE_EXPECT");
    std::istringstream builds(std::string(kBuild) + " " + (expect ? expect : ""));
    for (std::string build; builds >> build;)
        EXPECT_EQ(1u, read.count(build)) << "no device written by the " << build << " build in " << exchange;
    if (!shared || !*shared) pelorn_test::RemoveTree(exchange);
}

}  // namespace
