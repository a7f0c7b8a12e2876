#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/device_test.h"

namespace {

class SettingsTest : public pelorn_test::DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, PROFILE_KEY_PATH, 0, KEY_ALL_ACCESS, &key_));
    }
    void TearDown() override {
        RegCloseKey(key_);
        DeviceTest::TearDown();
    }

    struct Stored {
        LONG status;
        DWORD type;
        std::vector<BYTE> data;
    };
    Stored Query(LPCTSTR name) {
        Stored s{0, 0, std::vector<BYTE>(1024)};
        DWORD size = static_cast<DWORD>(s.data.size());
        s.status = RegQueryValueEx(key_, name, nullptr, &s.type, s.data.data(), &size);
        s.data.resize(s.status == ERROR_SUCCESS ? size : 0);
        return s;
    }
    void Set(LPCTSTR name, DWORD type, std::vector<BYTE> bytes) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key_, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())));
    }

    HKEY key_ = nullptr;
};

const std::vector<BYTE> kDwordZero = {0, 0, 0, 0};

TEST_F(SettingsTest, MissingValueReadsZeroAndIsCreatedAsDwordZero) {
    EXPECT_EQ(0u, ReadRegDword(key_, _T("State_Chg")));
    Stored s = Query(_T("State_Chg"));
    ASSERT_EQ(ERROR_SUCCESS, s.status);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), s.type);
    EXPECT_EQ(kDwordZero, s.data);
}

TEST_F(SettingsTest, ReadsTheFirstFourBytesWhateverTheType) {
    WriteRegDword(key_, _T("GPS_Slide"), 0x12345678);
    EXPECT_EQ(0x12345678u, ReadRegDword(key_, _T("GPS_Slide")));

    // "AB" as 16-bit characters: 'A' 0 'B' 0.
    Set(_T("Text"), REG_SZ, {'A', 0, 'B', 0, 0, 0});
    EXPECT_EQ(0x00420041u, ReadRegDword(key_, _T("Text")));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), Query(_T("Text")).type) << "a successful read leaves the value alone";

    Set(_T("Short"), REG_BINARY, {0xAB, 0xCD});
    EXPECT_EQ(0x0000CDABu, ReadRegDword(key_, _T("Short")));
}

TEST_F(SettingsTest, DataOverTheBufferReadsZeroAndIsReplacedByDwordZero) {
    Set(_T("Fits"), REG_BINARY, std::vector<BYTE>(250, 0x11));
    EXPECT_EQ(0x11111111u, ReadRegDword(key_, _T("Fits")));

    Set(_T("Long"), REG_BINARY, std::vector<BYTE>(251, 0x11));
    EXPECT_EQ(0u, ReadRegDword(key_, _T("Long")));
    Stored s = Query(_T("Long"));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), s.type);
    EXPECT_EQ(kDwordZero, s.data);
}

TEST_F(SettingsTest, NullKeyReadsZeroAndCreatesNothing) {
    trace().Clear();
    EXPECT_EQ(0u, ReadRegDword(nullptr, _T("AppReg")));
    EXPECT_FALSE(WriteRegDword(nullptr, _T("AppReg"), 1));
    EXPECT_FALSE(WriteRegString(nullptr, _T("FW"), "x"));

    auto writes = trace().Calls("RegSetValueEx");
    ASSERT_EQ(3u, writes.size());
    for (const auto& w : writes)
        EXPECT_EQ(ERROR_INVALID_HANDLE, w.Num("result"));
    HKEY app = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(HKEY_LOCAL_MACHINE, _T("SOFTWARE\\Apps\\Tavro SW"), 0, 0, &app));
}

TEST_F(SettingsTest, WriteRegDwordStoresFourLittleEndianBytes) {
    EXPECT_TRUE(WriteRegDword(key_, _T("GPSHDL"), 0x00010024));
    Stored s = Query(_T("GPSHDL"));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), s.type);
    EXPECT_EQ((std::vector<BYTE>{0x24, 0x00, 0x01, 0x00}), s.data);
}

TEST_F(SettingsTest, WriteRegStringWidensEachByteAsSigned) {
    EXPECT_TRUE(WriteRegString(key_, _T("FW"), " 00.00.00.00"));
    Stored s = Query(_T("FW"));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), s.type);
    ASSERT_EQ(26u, s.data.size()) << "twelve characters and the terminator, two bytes each";
    EXPECT_EQ(' ', s.data[0]);
    EXPECT_EQ(0, s.data[1]);
    EXPECT_EQ(0, s.data[24]);
    EXPECT_EQ(0, s.data[25]);

    EXPECT_TRUE(WriteRegString(key_, _T("FW"), "2\xB0\x7F\x80\xFF"));
    s = Query(_T("FW"));
    EXPECT_EQ((std::vector<BYTE>{'2', 0, 0xB0, 0xFF, 0x7F, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0, 0}), s.data);
}

TEST_F(SettingsTest, WriteRegStringKeepsAtMost255Characters) {
    std::string longText(300, 'x');
    EXPECT_TRUE(WriteRegString(key_, _T("FW"), longText.c_str()));
    EXPECT_EQ(256u * 2, Query(_T("FW")).data.size());
}

}  // namespace
