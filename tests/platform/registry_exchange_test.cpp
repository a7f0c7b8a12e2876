// A device's registry written by one build (x86-64, 32-bit ARM) reads the same, byte for byte, on
// the others. Each build writes its device into PELORN_REGISTRY_EXCHANGE and reads every device
// there; PELORN_REGISTRY_EXCHANGE_EXPECT names builds whose devices must be among them.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/trace.h"
#include "support/device_test.h"

namespace {

#if defined(__arm__)
const char kBuild[] = "arm";
#else
const char kBuild[] = "x86-64";
#endif
const char16_t kPath[] = u"SOFTWARE\\Apps\\Tavro SW\\Geräte";

struct Value {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
};

std::vector<Value> Table() {
    std::vector<BYTE> all(256), text;
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<BYTE>(i);
    for (char16_t c : std::u16string(u"Fehler beim Öffnen des COM Ports") + u'\0')
        text.insert(text.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
    return {
        {u"", REG_SZ, text},        {u"GPSHDL", REG_DWORD, {0x34, 0x12, 0x00, 0x80}}, {u"Größe Ω", REG_BINARY, all},
        {u"Empty", REG_BINARY, {}}, {u"QWord", 11, {8, 7, 6, 5, 4, 3, 2, 1}},         {u"Odd", REG_NONE, {1, 2, 3}}};
}

std::string Show(const std::u16string& name, DWORD type, const std::vector<BYTE>& data) {
    return host::json::Utf8(name) + " " + std::to_string(type) + " " +
           host::TraceValue::Bytes(data.data(), data.size()).Json();
}

TEST(RegistryExchange, EveryBuildReadsWhatEachBuildWroteByteForByte) {
    const char* shared = std::getenv("PELORN_REGISTRY_EXCHANGE");
    std::string exchange = shared && *shared ? shared : pelorn_test::MakeTempFolder("pelorn-exchange");
    pelorn_test::RemoveTree(exchange + "/" + kBuild);
    host::Handheld::Boot({exchange + "/" + kBuild, true, "", nullptr});
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, 0, nullptr, &key, nullptr));
    std::vector<std::string> written;
    for (const Value& v : Table()) {
        auto size = static_cast<DWORD>(v.data.size());
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key, v.name.c_str(), 0, v.type, v.data.data(), size));
        written.push_back(Show(v.name, v.type, v.data));
    }
    host::Handheld::PowerOff();

    std::string read;
    DIR* dir = opendir(exchange.c_str());
    for (dirent* e; dir && (e = readdir(dir));) {
        if (e->d_name[0] == '.') continue;
        SCOPED_TRACE(std::string("written by the ") + e->d_name + " build, read by the " + kBuild + " build");
        host::Handheld::Boot({exchange + "/" + e->d_name, true, "", nullptr});
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPath, 0, 0, &key));
        std::vector<std::string> values;
        WCHAR name[64];
        BYTE data[512];
        for (DWORD i = 0, n = 64, type = 0, size = sizeof data;
             RegEnumValue(key, i, name, &n, nullptr, &type, data, &size) == ERROR_SUCCESS;
             ++i, n = 64, size = sizeof data)
            values.push_back(Show(std::u16string(name, n), type, std::vector<BYTE>(data, data + size)));
        EXPECT_EQ(written, values);
        host::Handheld::PowerOff();
        read += std::string(" ") + e->d_name + " ";
    }
    if (dir) closedir(dir);
    const char* others = std::getenv("PELORN_REGISTRY_EXCHANGE_EXPECT");
    std::istringstream expected(std::string(kBuild) + " " + (others ? others : ""));
    for (std::string build; expected >> build;)
        EXPECT_NE(std::string::npos, read.find(" " + build + " ")) << "no device of the " << build << " build";
    if (!shared || !*shared) pelorn_test::RemoveTree(exchange);
}

}  // namespace
