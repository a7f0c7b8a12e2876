// The handheld command line: .reg files and reg.exe's arguments on the virtual clock, then other
// programs acting on a running `pelorn` from processes of their own, on the real clock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "handheld/reg/reg_command.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"
#include "support/device_test.h"
#include "support/pty.h"
#include "tools/cli_support.h"

namespace {

using pelorn_test::Handheld;
using pelorn_test::Ran;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Utf16Le(const std::string& utf8) {
    std::string bytes;
    for (char16_t c : handheld::Utf16(utf8)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

handheld::RegOutcome Reg(const std::vector<std::string>& args) {
    return handheld::RunRegCommand(handheld::ParseRegCommand(args));
}

// --- .reg files, on the virtual clock ----------------------------------------------------------

class RegFileTest : public pelorn_test::DeviceTest {
protected:
    std::string File(const char* name) { return folder() + "/" + name; }

    // Type and bytes of a value, as another program reads them; "missing" when there is none.
    std::string Stored(const std::string& key, const std::string& name) {
        handheld::RegOutcome q = Reg({"query", key, "/v", name});
        return q.exit_code ? "missing" : q.out;
    }
};

TEST_F(RegFileTest, ExportWritesRegeditTextAndImportRestoresEveryValue) {
    const std::string key = "HKCU\\Software\\Pelorn Test";
    std::string binary;
    for (int i = 0; i < 40; ++i)
        binary += "0123456789ABCDEF"[i % 16], binary += "F"[0];
    ASSERT_EQ(0, Reg({"add", key, "/v", "State_Chg", "/t", "REG_DWORD", "/d", "30"}).exit_code);
    ASSERT_EQ(0,
              Reg({"add", key, "/v", "Path", "/d", "C:\\Programme\\\"Tavro\" M\xC3\xBCller \xE2\x9C\x93"}).exit_code);
    ASSERT_EQ(0, Reg({"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "0102FF"}).exit_code);
    ASSERT_EQ(0, Reg({"add", key, "/ve", "/d", "default"}).exit_code);
    ASSERT_EQ(0, Reg({"add", key + "\\Sub", "/v", "Long", "/t", "REG_BINARY", "/d", binary}).exit_code);
    ASSERT_EQ(0, Reg({"add", key + "\\Sub", "/v", "Two", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}).exit_code);
    ASSERT_EQ(0, Reg({"add", key + "\\Empty"}).exit_code);

    handheld::RegOutcome done = Reg({"export", key, File("out.reg"), "/y"});
    ASSERT_EQ(0, done.exit_code) << done.err;
    EXPECT_EQ("The operation completed successfully.\n", done.out);
    std::string long_lines =
        "\"Long\"=hex:0f,1f,2f,3f,4f,5f,6f,7f,8f,9f,af,bf,cf,df,ef,ff,0f,1f,2f,3f,4f,5f,\\\r\n"
        "  6f,7f,8f,9f,af,bf,cf,df,ef,ff,0f,1f,2f,3f,4f,5f,6f,7f\r\n";
    EXPECT_EQ("\xFF\xFE" + Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Pelorn Test]\r\n"
                                   "\"State_Chg\"=dword:0000001e\r\n"
                                   "\"Path\"=\"C:\\\\Programme\\\\\\\"Tavro\\\" M\xC3\xBCller \xE2\x9C\x93\"\r\n"
                                   "\"Blob\"=hex:01,02,ff\r\n"
                                   "@=\"default\"\r\n"
                                   "\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Pelorn Test\\Empty]\r\n"
                                   "\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Pelorn Test\\Sub]\r\n" +
                                   long_lines +
                                   "\"Two\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                                   "\r\n"),
              ReadBytes(File("out.reg")));

    std::vector<std::string> before;
    for (const char* name : {"State_Chg", "Path", "Blob", ""})
        before.push_back(Stored(key, name));
    before.push_back(Stored(key + "\\Sub", "Long"));
    before.push_back(Stored(key + "\\Sub", "Two"));
    ASSERT_EQ(0, Reg({"delete", key, "/f"}).exit_code);
    ASSERT_EQ("missing", Stored(key, "State_Chg"));

    done = Reg({"import", File("out.reg")});
    ASSERT_EQ(0, done.exit_code) << done.err;
    std::vector<std::string> after;
    for (const char* name : {"State_Chg", "Path", "Blob", ""})
        after.push_back(Stored(key, name));
    after.push_back(Stored(key + "\\Sub", "Long"));
    after.push_back(Stored(key + "\\Sub", "Two"));
    EXPECT_EQ(before, after);
    EXPECT_EQ(0, Reg({"query", key + "\\Empty"}).exit_code);
}

TEST_F(RegFileTest, ImportReadsUtf8AndDeletesWhatTheFileSays) {
    const std::string key = "HKLM\\Software\\Pelorn Test";
    ASSERT_EQ(0, Reg({"add", key + "\\Old", "/v", "X", "/d", "1"}).exit_code);
    ASSERT_EQ(0, Reg({"add", key, "/v", "Gone", "/d", "1"}).exit_code);
    WriteBytes(File("in.reg"),
               "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
               "\n"
               "; written by hand\n"
               "[-HKEY_LOCAL_MACHINE\\Software\\Pelorn Test\\Old]\n"
               "[HKEY_LOCAL_MACHINE\\Software\\Pelorn Test]\r\n"
               "\"Gone\"=-\n"
               "\"Name\"=\"\xC3\xA4\\\\\\\"\"\n"
               "\"Bin\"=hex:01,\\\n"
               "    0a\n"
               "\"Big\"=dword:FFFFFFFF\n");
    handheld::RegOutcome done = Reg({"import", File("in.reg")});
    ASSERT_EQ(0, done.exit_code) << done.err;
    EXPECT_EQ("missing", Stored(key, "Gone"));
    EXPECT_NE(0, Reg({"query", key + "\\Old"}).exit_code);
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Pelorn Test\n    Name    REG_SZ    \xC3\xA4\\\"\n\n",
              Stored(key, "Name"));
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Pelorn Test\n    Bin    REG_BINARY    010A\n\n", Stored(key, "Bin"));
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\Software\\Pelorn Test\n    Big    REG_DWORD    0xffffffff\n\n",
              Stored(key, "Big"));
}

TEST_F(RegFileTest, ABadFileIsRefusedNamingItsLineAndChangesNothing) {
    const std::string key = "HKCU\\Software\\Pelorn Test";
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"[HKEY_CURRENT_USER\\X]\n",
         "line 1: not a .reg file: the first line must be \"Windows Registry Editor Version 5.00\""},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Pelorn Test]\n\"A\"=dword:1\n\"B\"=dword:123456789\n",
         "line 5: dword: needs 1 to 8 hex digits"},
        {"REGEDIT4\n\"A\"=dword:1\n", "line 2: a value before any [KEY]"},
        {"REGEDIT4\n[HKEY_NOWHERE\\X]\n", "line 2: Invalid key name: HKEY_NOWHERE\\X"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Pelorn Test]\n\"A\"=\"C:\\x\"\n",
         "line 3: a backslash in a string must be doubled"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Pelorn Test]\n\"A\"=hex:1,zz\n", "line 3: bad hex byte 'zz'"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Pelorn Test]\n\"A\"=\"open\n", "line 3: a quote is not closed"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Pelorn Test]\n\"A\"=qword:1\n", "line 3: unknown data 'qword:1'"},
    };
    for (const Case& c : cases) {
        WriteBytes(File("bad.reg"), c.text);
        handheld::RegOutcome r = Reg({"import", File("bad.reg")});
        EXPECT_EQ(1, r.exit_code) << c.text;
        EXPECT_EQ(0u, r.err.find("ERROR: " + File("bad.reg") + ": " + c.error)) << r.err;
    }
    EXPECT_NE(0, Reg({"query", key}).exit_code) << "no key was created by a file that was refused";
    EXPECT_EQ(1, Reg({"import", File("none.reg")}).exit_code);
    EXPECT_EQ(1, Reg({"export", "HKCU\\Software\\Nothing", File("none.reg")}).exit_code);
    EXPECT_NE(0, access(File("none.reg").c_str(), F_OK)) << "nothing exported, no file";
}

// Every key and value below `key` exactly as the registry holds them; a key is (path, -1).
using Entry = std::tuple<std::u16string, std::u16string, DWORD, std::vector<BYTE>>;
void Holds(host::RegistryStore& store, host::RegKeyId key, const std::u16string& path, std::vector<Entry>* out) {
    out->emplace_back(path, u"", DWORD(-1), std::vector<BYTE>{});
    host::RegValue v;
    for (DWORD i = 0; store.EnumValue(key, i, &v) == ERROR_SUCCESS; ++i)
        out->emplace_back(path, v.name, v.type, v.data);
    std::u16string name;
    std::uint64_t written = 0;
    host::RegKeyId child = 0;
    for (DWORD i = 0; store.EnumKey(key, i, &name, &written) == ERROR_SUCCESS; ++i)
        if (store.OpenKey(key, name, &child) == ERROR_SUCCESS) Holds(store, child, path + u"\\" + name, out);
}

TEST_F(RegFileTest, EveryExportImportsBackAsTheSameNamesAndData) {
    const std::u16string keys[] = {u"RoundTrip", u"RoundTrip\\[brackets] \"q\" ", u"RoundTrip\\-dash\\;semi",
                                   u"RoundTrip\\\xD800 lone \xD83D\xDE00", u"RoundTrip\\" + std::u16string(255, u'k')};
    const std::u16string names[] = {std::u16string(16383, u'v'),
                                    u"",
                                    u"@",
                                    u"-",
                                    u"\"quoted\" = \\back\\slash\\",
                                    u"line\nbreak\r\nand\ttab",
                                    u"\xD83D\xDE00 pair",
                                    u"\xDC00 lone \xD800"};
    const std::pair<DWORD, std::vector<BYTE>> data[] = {{REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}},
                                                        {REG_SZ, {'\n', 0, '"', 0, '\\', 0, 0, 0}},
                                                        {REG_SZ, {'x'}},
                                                        {REG_SZ, {}},
                                                        {REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}},
                                                        {REG_DWORD, {1, 2, 3}},
                                                        {11, {1, 2, 3, 4, 5, 6, 7, 8}},
                                                        {REG_BINARY, std::vector<BYTE>(300, 0xAB)},
                                                        {0xFFFFFFFF, {0}}};
    std::size_t n = 0;
    for (const auto& path : keys) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr));
        for (const auto& name : names) {
            const auto& [type, bytes] = data[n++ % std::size(data)];
            ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key, name.c_str(), 0, type, bytes.data(), DWORD(bytes.size())));
        }
        RegCloseKey(key);
    }
    host::RegistryStore& store = device().registry();
    host::RegKeyId top = 0;
    auto holds = [&] {
        std::vector<Entry> entries;
        if (store.OpenKey(host::RegistryStore::Root(HKEY_CURRENT_USER), u"RoundTrip", &top) == ERROR_SUCCESS)
            Holds(store, top, u"RoundTrip", &entries);
        return entries;
    };
    const std::vector<Entry> before = holds();
    ASSERT_EQ(std::size(keys) + 1 + n, before.size());  // the key between -dash and ;semi too

    ASSERT_EQ(0, Reg({"export", "HKCU\\RoundTrip", File("round.reg")}).exit_code);
    ASSERT_EQ(0, Reg({"delete", "HKCU\\RoundTrip", "/f"}).exit_code);
    ASSERT_EQ("", Reg({"import", File("round.reg")}).err);
    EXPECT_TRUE(before == holds());
}

TEST_F(RegFileTest, NamesPastWin32LimitsAreRefusedAndAFailedEnumerationIsReported) {
    const std::string key = "HKCU\\Software\\Limits";  // two levels below the root
    std::string deep = key;
    for (int level = 3; level <= 512; ++level)
        deep += "\\d";
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"add", deep}, nullptr},
        {{"add", key + "\\" + std::string(256, 'k')},
         "Invalid key name: \"kkkkkkkkkkkkkkkkkkkkkkkk...\" is longer than 255 characters"},
        {{"add", key, "/v", std::string(16384, 'v')},
         "Invalid value name: \"vvvvvvvvvvvvvvvvvvvvvvvv...\" is longer than 16383 characters"},
        {{"add", deep + "\\d"}, "Invalid key name: deeper than 512 levels"},
        {{"add", key + "\\line\nbreak"}, "Invalid key name: \"line\\x0Abreak\" holds the control character 10"}};
    for (const auto& [args, error] : cases) {
        try {
            handheld::RegOutcome r = Reg(args);
            EXPECT_TRUE(error == nullptr) << "accepted: " << error;
            EXPECT_EQ(0, r.exit_code) << r.err;
        } catch (const handheld::RegSyntaxError& e) {
            EXPECT_STREQ(error ? error : "(accepted)", e.what());
        }
    }
    // The probe's 10 kB file with a key 5,000 levels deep makes nothing.
    std::string levels = "[HKEY_CURRENT_USER\\Software\\Deep";
    for (int level = 0; level < 5000; ++level)
        levels += "\\d";
    WriteBytes(File("deep.reg"), "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Deep]\n" + levels + "]\n");
    EXPECT_EQ("ERROR: " + File("deep.reg") + ": line 3: Invalid key name: deeper than 512 levels\n",
              Reg({"import", File("deep.reg")}).err);
    EXPECT_NE(0, Reg({"query", "HKCU\\Software\\Deep"}).exit_code);

    // Enumerations that fail part-way are errors, not ends; an export then writes no file.
    const std::string failure =
        "ERROR: Cannot read HKEY_CURRENT_USER\\Software\\Limits: A device attached to the "
        "system is not functioning.\n";
    device().faults().FailNext("RegEnumKeyEx", 1, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(failure, Reg({"export", key, File("part.reg")}).err);
    EXPECT_NE(0, access(File("part.reg").c_str(), F_OK));
    device().faults().FailNext("RegEnumValue", 1, ERROR_GEN_FAILURE);
    handheld::RegOutcome r = Reg({"query", key, "/s"});
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(failure, r.err);
}

TEST_F(RegFileTest, NumbersAreDecimalOrHexAndNamesAreKeptExactlyOrRefused) {
    const std::string key = "HKCU\\Software\\Numbers";
    const std::tuple<const char*, const char*, const char*> numbers[] = {
        {"REG_DWORD", "010", "0xa"},   {"REG_DWORD", "08", "0x8"},
        {"REG_DWORD", "0X1f", "0x1f"}, {"REG_QWORD", "18446744073709551615", "0xffffffffffffffff"},
        {"REG_DWORD", "-1", nullptr},  {"REG_DWORD", "+1", nullptr},
        {"REG_QWORD", " -1", nullptr}, {"REG_DWORD", "4294967296", nullptr},
        {"REG_DWORD", "0x", nullptr},  {"REG_DWORD", "1e3", nullptr},
    };
    for (const auto& [type, text, shown] : numbers) {
        handheld::RegOutcome r = Reg({"add", key, "/v", "N", "/t", type, "/d", text});
        if (shown)
            EXPECT_NE(std::string::npos, Stored(key, "N").find(std::string(type) + "    " + shown + "\n")) << text;
        else
            EXPECT_EQ(0u, r.err.find(std::string("ERROR: Invalid ") + type + " data: " + text + " (")) << r.err;
    }

    // In a UTF-16 file a NUL in a name is refused and unpaired surrogates are kept as they are.
    auto utf16 = [](const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text)
            bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
        return bytes;
    };
    const std::u16string head = u"REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Names]\r\n";
    WriteBytes(File("nul.reg"), utf16(head + u"\"a" + std::u16string(1, u'\0') + u"b\"=dword:1\r\n"));
    EXPECT_EQ("ERROR: " + File("nul.reg") + ": line 3: a value name cannot hold NUL\n",
              Reg({"import", File("nul.reg")}).err);
    WriteBytes(File("lone.reg"),
               utf16(head + u"\"\xD800\"=dword:1\r\n[HKEY_CURRENT_USER\\Software\\Names\\\xDC00]\r\n"));
    ASSERT_EQ(0, Reg({"import", File("lone.reg")}).exit_code);
    HKEY names = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(HKEY_CURRENT_USER, u"Software\\Names", 0, 0, &names));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueEx(names, u"\xD800", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyEx(names, u"\xDC00", 0, 0, &names));

    // Text that is not UTF-8 is refused rather than guessed at.
    WriteBytes(File("latin1.reg"), "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Names]\n\"M\xFC\"=dword:1\n");
    EXPECT_EQ("ERROR: " + File("latin1.reg") + ": line 3: not UTF-8 (and no byte order mark of UTF-16)\n",
              Reg({"import", File("latin1.reg")}).err);
    EXPECT_THROW(handheld::ParseRegCommand({"add", "HKCU\\M\xFC"}), handheld::RegSyntaxError);
}

TEST(RegArgumentsTest, WhatIsNotARegCommandIsRefusedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{}, "missing operation: add, delete, query, export or import"},
        {{"copy", "HKCU\\A"}, "unknown operation 'copy': add, delete, query, export or import"},
        {{"add"}, "missing key name"},
        {{"add", "HKXX\\A"}, "Invalid key name: HKXX\\A (the root must be HKLM, HKCU, HKCR or HKU)"},
        {{"add", "HKCU\\A", "/t", "REG_DWORD", "/d", "5"}, "/t and /d need /v or /ve"},
        {{"add", "HKCU\\A", "/v"}, "/v needs a value"},
        {{"add", "HKCU\\A", "/v", "X", "/v", "Y"}, "/v given twice"},
        {{"add", "HKCU\\A", "/v", "X", "/t", "REG_WORD"}, "unknown type 'REG_WORD'"},
        {{"query", "HKCU\\A", "/d", "1"}, "reg query does not take /d"},
        {{"delete", "HKCU\\A", "/v", "X", "/va"}, "only one of /v, /ve and /va"},
        {{"export", "HKCU\\A"}, "missing file name"},
        {{"export", "HKCU\\A", "a.reg", "/f"}, "reg export does not take /f"},
        {{"import"}, "missing file name"},
        {{"import", "a.reg", "b.reg"}, "unexpected argument 'b.reg'"},
    };
    for (const Case& c : cases) {
        try {
            handheld::ParseRegCommand(c.args);
            ADD_FAILURE() << "accepted: " << c.error;
        } catch (const handheld::RegSyntaxError& e) {
            EXPECT_STREQ(c.error, e.what());
        }
    }
    handheld::RegCommand export_command = handheld::ParseRegCommand({"EXPORT", "hklm\\Software\\\\X\\", "x.reg", "/Y"});
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\X", export_command.key);
    EXPECT_EQ("x.reg", export_command.file);
}

// --- the command line as a program, without a running system ------------------------------------

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { root_ = pelorn_test::MakeTempFolder("pelorn-cli"); }
    void TearDown() override { pelorn_test::RemoveTree(root_); }
    std::string Device() const { return root_ + "/" + device_; }
    std::string root_, device_ = "device";
};

TEST_F(CommandLineTest, BadArgumentsGiveAUsageLineAndExit2WithoutTouchingTheDevice) {
    struct Case {
        std::vector<std::string> args;
        const char* first_line;
    } cases[] = {
        {{}, "usage: handheld [--help] [--version] [--device DIR [--new]] COMMAND [ARGS...]"},
        {{"frob"}, "handheld: unknown command 'frob'"},
        {{"stat"}, "handheld: unknown command 'stat'; did you mean 'status'?"},
        {{"profile", "GPS"}, "handheld profile: say what to set: backlight=, suspend= or brightness="},
        {{"profile", "GSP", "backlight=30"}, "handheld profile: the profile is GPS or STD, not 'GSP'"},
        {{"profile", "STD", "backlight=-1"},
         "handheld profile: backlight is a number of seconds from 1 to 4294967 (the platform counts a time-out's "
         "milliseconds in 32 bits) or never, not '-1'"},
        {{"profile", "STD", "suspend=4294968"},
         "handheld profile: suspend is a number of seconds from 1 to 4294967 (the platform counts a time-out's "
         "milliseconds in 32 bits) or never, not '4294968'"},
        {{"profile", "GPS", "brightness=11"},
         "handheld profile: brightness is a backlight level from 0 (dark) to 10 (brightest), the levels of the "
         "handheld's backlight driver, not '11'"},
        {{"firmware", "--record"}, "handheld firmware: --record records what --read reads: give both"},
        {{"--device"}, "handheld: --device needs a folder"},
        {{"--device", "elsewhere", "play", "tour.play"},
         "handheld: play runs on a fresh temporary device, not on --device"},
        {{"send"}, "usage: handheld send [--help] show|hide|reset|close|about | MSG [WPARAM [LPARAM]]"},
        {{"send", "open"}, "handheld send: unknown message 'open'"},
        {{"send", "show", "hide"}, "handheld send: one message at a time"},
        {{"set"}, "usage: handheld set [--help] [ac=battery|online|unknown] [pin38=high|low|released]"},
        {{"set", "pin38=up"}, "handheld set: pin38 is high, low or released, not 'up'"},
        {{"set", "ac=online", "ac=battery"}, "handheld set: ac given twice"},
        {{"set", "pin21=high"}, "handheld set: unknown setting 'pin21=high'"},
        {{"ports", "LPT1", "sim"}, "handheld ports: 'LPT1' is no port (COM0 to COM9)"},
        {{"ports", "COM1"}, "handheld ports: COM1 needs PATH, sim or none"},
        {{"ports", "COM1", "ttyUSB0"}, "handheld ports: 'ttyUSB0' is neither an absolute path, sim nor none"},
        {{"status", "now"}, "handheld status: unexpected argument 'now'"},
        {{"check", "now"}, "handheld check: takes no arguments"},
        {{"reg", "add"}, "handheld reg: missing key name"},
        {{"receiver"}, "usage: handheld receiver [--help] LOG [--pace BAUD] [--loop]"},
        {{"receiver", "a.log", "--pace", "fast"}, "handheld receiver: --pace takes a rate from 50 to 4000000 baud"},
    };
    for (const Case& c : cases) {
        Ran r = Handheld(Device(), c.args);
        EXPECT_EQ(2, r.exit) << c.first_line;
        EXPECT_EQ(c.first_line, r.err.substr(0, r.err.find('\n')));
        EXPECT_NE(std::string::npos, r.err.find("usage: handheld")) << r.err;
        EXPECT_EQ("", r.out);
    }
    for (const char* command :
         {"reg", "send", "set", "ports", "status", "play", "check", "receiver", "profile", "firmware"}) {
        Ran r = Handheld(Device(), {command, "--help"});
        EXPECT_EQ(0, r.exit) << command;
        EXPECT_EQ(0u, r.out.find(std::string("usage: handheld ") + command)) << r.out;
    }
    EXPECT_NE(0, access(Device().c_str(), F_OK)) << "no device was made";
}

// A device named by --device or PELORN_DEVICE is made only when --new says so; the default one
// ($XDG_STATE_HOME/pelorn) on first use. Each case starts with none of the three folders there.
TEST_F(CommandLineTest, ANamedDeviceThatIsNotThereIsAnErrorUnlessItIsNew) {
    const std::string handheld = pelorn_test::HandheldExe(), pelorn = pelorn_test::PelornExe();
    const std::string dir = root_ + "/named", typo = dir + "-typo", state = dir + "-state";
    auto missing = [&](const char* by) {
        return "there is no device folder " + dir + " (named by " + by + "); to make a new device there, add --new";
    };
    struct Case {
        std::string exe;
        std::vector<std::string> args;
        const char* env_device;  // PELORN_DEVICE; null: unset
        int exit;
        std::string err, made;  // the first line of the error; the device folder made
    } cases[] = {
        {handheld, {"--device", dir, "status"}, nullptr, 1, "handheld status: " + missing("--device"), ""},
        {handheld, {"ports"}, dir.c_str(), 1, "handheld ports: " + missing("PELORN_DEVICE"), ""},
        {pelorn, {"--headless", "--device", dir}, nullptr, 1, "pelorn: " + missing("--device"), ""},
        {pelorn, {"--headless"}, dir.c_str(), 1, "pelorn: " + missing("PELORN_DEVICE"), ""},
        {handheld, {"--device", dir, "--new", "ports"}, typo.c_str(), 0, "", dir},
        {handheld, {"--new", "ports"}, dir.c_str(), 0, "", dir},
        {handheld, {"ports"}, nullptr, 0, "", state + "/pelorn"},
    };
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    for (const Case& c : cases) {
        c.env_device ? setenv("PELORN_DEVICE", c.env_device, 1) : unsetenv("PELORN_DEVICE");
        Ran r = pelorn_test::Program(c.exe, c.args);
        EXPECT_EQ(c.exit, r.exit) << c.args[0] << ": " << r.err;
        EXPECT_EQ(c.err, r.err.substr(0, r.err.find('\n')));
        std::string made;
        for (const std::string& folder : {dir, typo, state + "/pelorn"})
            if (access(folder.c_str(), F_OK) == 0) made += folder;
        EXPECT_EQ(c.made, made) << c.args[0];
        for (const std::string& folder : {dir, typo, state})
            pelorn_test::RemoveTree(folder);
    }
    unsetenv("PELORN_DEVICE");
    unsetenv("XDG_STATE_HOME");
}

TEST_F(CommandLineTest, PortsKeepTheFactoryWiringUntilTheyAreChanged) {
    EXPECT_EQ("COM1 sim\n", Handheld(Device(), {"ports"}).out);
    EXPECT_EQ(0, Handheld(Device(), {"ports", "COM2", "/dev/ttyUSB7"}).exit);
    EXPECT_EQ("COM1 sim\nCOM2 /dev/ttyUSB7\n", Handheld(Device(), {"ports"}).out);
    EXPECT_EQ(0, Handheld(Device(), {"ports", "com1:", "none"}).exit);
    EXPECT_EQ("COM2 /dev/ttyUSB7\n", Handheld(Device(), {"ports"}).out);

    // On a device whose ports were never mapped, none takes the factory's receiver away too.
    std::string fresh = root_ + "/fresh";
    EXPECT_EQ(0, Handheld(fresh, {"ports", "COM1", "none"}).exit);
    EXPECT_EQ("", Handheld(fresh, {"ports"}).out);

    Ran r = Handheld(Device(), {"send", "show"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("handheld send: no Pelorn window on this device (GPSHDL is not set: the system never ran)\n", r.err);
    r = Handheld(fresh, {"status"});
    EXPECT_EQ(0u, r.out.find("Pelorn         = not running\nReceiver       = unknown: Pelorn is not running (the "
                             "hardware leaves pin 38 alone)\n"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Firmware       = not recorded (no first run yet)\nCOM1           = "
                                            "not mapped\n"))
        << r.out;
}

TEST_F(CommandLineTest, OpeningLooksAtAFewPagesAndCheckReadsThemAll) {
    std::string hex = "ab";
    for (int i = 1; i < 600; ++i)
        hex += ",ab";
    std::ofstream reg(root_ + "/big.reg");
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Big]\n";
    for (int v = 0; v < 64; ++v)
        reg << "\"V" << v << "\"=hex:" << hex << "\n";
    reg.close();
    ASSERT_EQ(0, Handheld(Device(), {"reg", "import", root_ + "/big.reg"}).exit);
    EXPECT_EQ("ok\n", Handheld(Device(), {"check"}).out);

    // The last leaf page of the file damaged: the device still opens, the full check finds it.
    std::ifstream in(Device() + "/registry.db", std::ios::binary);
    std::string db((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t page = 4096;
    std::size_t leaf = db.size() - page;
    while (leaf > page && db[leaf] != '\x0D')
        leaf -= page;
    db[leaf] = '\xFF';
    std::ofstream(Device() + "/registry.db", std::ios::binary) << db;
    EXPECT_EQ(0, Handheld(Device(), {"ports"}).exit);
    Ran r = Handheld(Device(), {"check"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ(0u, r.out.find("the registry " + Device() + "/registry.db is damaged:\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Page " + std::to_string(leaf / page + 1) + ":")) << r.out;
}

TEST_F(CommandLineTest, AnImportTreeDeleteOrExportThatFailsOnAFullDiskChangesNothing) {
    std::string values, hex = "00";
    for (int i = 1; i < 1000; ++i)
        hex += ",ab";
    for (int v = 0; v < 32; ++v)
        values += "\"V" + std::to_string(v) + "\"=hex:" + hex + "\n";
    for (const std::string name : {"Big", "More"}) {
        std::string text = "REGEDIT4\n";
        for (int k = 0; k < 32; ++k)
            text += "[HKEY_CURRENT_USER\\" + name + "\\K" + std::to_string(k) + "]\n" + values;
        WriteBytes(root_ + "/" + name + ".reg", text);
    }
    ASSERT_EQ(0, Handheld(Device(), {"reg", "import", root_ + "/Big.reg"}).exit);
    auto registry = [this] {
        Handheld(Device(), {"reg", "export", "HKCU", root_ + "/now.reg"});
        return ReadBytes(root_ + "/now.reg");
    };
    const std::string before = registry();
    // No file may grow past 256 KiB, as on a full disk: either change, 1 MB, fails on the way.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"reg", "import", root_ + "/More.reg"}, {"reg", "delete", "HKCU\\Big", "/f"}}) {
        Ran r = Handheld(Device(), args, -1, 256 << 10);
        EXPECT_EQ(1, r.exit) << args[1];
        EXPECT_NE(std::string::npos, r.err.find("could not be written")) << r.err;
        EXPECT_TRUE(before == registry()) << args[1] << " left the registry changed";
    }
    // An export that cannot be written whole leaves the file it would replace byte for byte.
    Ran r = Handheld(Device(), {"reg", "export", "HKCU", root_ + "/now.reg", "/y"}, -1, 256 << 10);
    EXPECT_EQ(1, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("Cannot write " + root_ + "/now.reg")) << r.err;
    EXPECT_TRUE(before == ReadBytes(root_ + "/now.reg"));
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(root_))
        if (e.path().filename().string().rfind(".now.reg", 0) == 0) left.push_back(e.path());
    EXPECT_EQ(std::vector<std::string>{}, left);
}

// On a terminal, reg asks before it overwrites or deletes, as reg.exe does: no changes nothing,
// yes goes on; /f (export: /y) and a pipe are never asked. One story, a step a row.
TEST_F(CommandLineTest, RegAsksOnATerminalBeforeItOverwritesOrDeletes) {
    const std::string key = "HKCU\\Ask", file = root_ + "/ask.reg";
    const std::string canceled = "The operation was canceled by the user.";
    const std::string overwrite = "Value Kept exists, overwrite(Yes/No)? ";
    const std::string remove = "Delete the registry value Kept (Yes/No)? ";
    const std::string import = "Import " + file + ", changing the keys and values it names (Yes/No)? ";
    const std::string replace = "File " + file + " already exists. Overwrite the file (Yes/No)? ";
    WriteBytes(file, "old");
    struct Step {
        bool terminal;
        std::vector<std::string> args;
        std::string answer;    // typed at the question
        std::string question;  // empty: none is asked
        int exit;
        std::string kept;       // the value Kept afterwards
        bool file_old = false;  // the file is as it was
    } steps[] = {
        {false, {"add", key, "/v", "Kept", "/d", "before"}, "", "", 0, "before"},
        {false, {"add", key, "/v", "Kept", "/d", "piped"}, "", "", 0, "piped"},
        {true, {"add", key, "/v", "Kept", "/d", "typed"}, "n", overwrite, 1, "piped"},
        {true, {"add", key, "/v", "Kept", "/d", "typed"}, "maybe\nY", overwrite, 0, "typed"},
        {true, {"add", key, "/v", "Other", "/d", "new"}, "", "", 0, "typed"},
        {true, {"delete", key, "/v", "Kept"}, "no", remove, 1, "typed"},
        {true, {"export", key, file}, "n", replace, 1, "typed", true},
        {true, {"delete", key, "/v", "Kept"}, "yes", remove, 0, "missing"},
        {true, {"import", file}, "n", import, 1, "missing"},
        {true, {"add", key, "/v", "Kept", "/d", "forced", "/f"}, "", "", 0, "forced"},
        {true, {"export", key, file, "/y"}, "", "", 0, "forced"},
        {true,
         {"delete", key},
         "n",
         "Permanently delete the registry key HKEY_CURRENT_USER\\Ask (Yes/No)? ",
         1,
         "forced"},
        {false, {"delete", key}, "", "", 0, "missing"},
        {true, {"import", file}, "y", import, 0, "forced"},
    };
    pelorn_test::Pty terminal;
    int n = 0;
    for (Step& step : steps) {
        ++n;
        step.args.insert(step.args.begin(), "reg");
        Ran r = step.terminal ? pelorn_test::HandheldAtTerminal(Device(), step.args, terminal, step.answer)
                              : Handheld(Device(), step.args);
        std::string shown = r.out + r.err, asked = shown.substr(0, shown.find("(Yes/No)? ") + 10);
        EXPECT_EQ(step.exit, r.exit) << n << ": " << shown;
        EXPECT_EQ(step.question, Has(shown, "(Yes/No)? ") ? asked : "") << n;
        EXPECT_EQ(step.exit != 0, Has(shown, canceled)) << n << ": " << shown;
        std::string kept = Handheld(Device(), {"reg", "query", key, "/v", "Kept"}).out;
        kept = Has(kept, "REG_SZ    ") ? kept.substr(kept.find("REG_SZ    ") + 10, step.kept.size() + 1) : "missing\n";
        EXPECT_EQ(step.kept + "\n", kept) << n;
        EXPECT_TRUE(!step.file_old || ReadBytes(file) == "old") << n << ": the file was overwritten";
    }
    EXPECT_TRUE(Has(ReadBytes(file), Utf16Le("\"Kept\"=\"forced\""))) << "exported over the file with /y";
}

// --- pelorn running on the real clock, other programs around it ---------------------------------

constexpr auto kStartPatience = std::chrono::seconds(10);
const char kResetSentence[] = "$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\r\n";

std::string Hex8(long long v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llX", v);
    return text;
}

// A new device: its receiver is off, so the first start's firmware read hears nothing and its
// "Wrong GPS firmware" is answered by the log; the system is up once its status says running.
class LiveTest : public CommandLineTest {
protected:
    void SetUp() override {
        CommandLineTest::SetUp();
        // Started from the folder above, on a relative path longer than a socket's address can be.
        device_ = std::string(120, 'x') + "/device";
        ASSERT_EQ(0, mkdir((root_ + "/" + std::string(120, 'x')).c_str(), 0755));
        pelorn_ = std::make_unique<pelorn_test::PelornProcess>(device_, -1, root_);
        std::optional<std::string> up = pelorn_test::StatusWhen(
            Device(), [](const std::string& s) { return Has(s, "\"running\":true"); }, kStartPatience);
        ASSERT_TRUE(up) << pelorn_->Output();
        window_ = pelorn_test::JsonNumber(*up, "window").value_or(0);
        ASSERT_NE(0, window_);
    }
    void TearDown() override {
        pelorn_.reset();
        CommandLineTest::TearDown();
    }
    Ran Run(const std::vector<std::string>& args) { return Handheld(Device(), args); }
    std::string Status() { return Run({"status", "--json"}).out; }
    std::optional<std::string> StatusWhen(const std::string& part, std::chrono::milliseconds patience) {
        return pelorn_test::StatusWhen(
            Device(), [&](const std::string& s) { return Has(s, part); }, patience);
    }

    std::unique_ptr<pelorn_test::PelornProcess> pelorn_;
    long long window_ = 0;
};

TEST_F(LiveTest, ControlMessagesFromOtherProcessesAreHandledAndAnswered) {
    Ran r = Run({"send", "hide"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("hide: the tray icon is hidden and Pelorn leaves the receiver alone\n", r.out);
    EXPECT_TRUE(Has(Status(), "\"tray_icon\":null"));
    r = Run({"send", "show"});
    EXPECT_EQ("show: the tray icon is shown and Pelorn follows the receiver again\n", r.out);
    EXPECT_FALSE(Has(Status(), "\"tray_icon\":null"));
    r = Run({"send", "about"});
    EXPECT_EQ("about: the About box was closed\n", r.out) << "the About box was shown and closed";
    EXPECT_EQ("handheld send: about: Pelorn shows its About box and answers when it is closed\n", r.err);
    r = Run({"send", "0x0401"});
    EXPECT_EQ(0, r.exit);
    EXPECT_EQ("window " + Hex8(window_) + " handled message 0x0401: result 1\n", r.out);

    pelorn_test::Pty pty;
    ASSERT_EQ(0, Run({"ports", "COM1", pty.path()}).exit);
    r = Run({"send", "reset"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("reset: the reset sentence was sent on COM1:\n", r.out);
    EXPECT_EQ("handheld send: reset: Pelorn sends the reset sentence on COM1: and answers about 5 s later\n", r.err);
    EXPECT_EQ(kResetSentence, pty.Heard(61, std::chrono::milliseconds(0)));
    // COM1 that cannot be opened: the box says so, the sender fails once it is answered.
    ASSERT_EQ(0, Run({"ports", "COM1", root_ + "/no-such-line"}).exit);
    r = Run({"send", "reset"});
    EXPECT_EQ(1, r.exit);
    EXPECT_TRUE(Has(r.err, "handheld send: reset failed: Pelorn could not open COM1: (its message box says so)"))
        << r.err;

    // Creation, non-client destruction, a timer, activation, with an address: window manager's only.
    const std::string handle = Hex8(window_);
    for (const char* msg : {"0x0001", "0x0082", "0x0113", "0x0006"}) {
        r = Run({"send", msg, "1", "0x4141414141"});
        EXPECT_EQ(1, r.exit);
        EXPECT_EQ("handheld send: window " + handle + " refused message " + msg +
                      ": only the window manager sends it; other programs may send WM_NULL, WM_CLOSE, WM_COMMAND "
                      "and messages from WM_USER (0x0400) to 0xFFFF (error 5)\n",
                  r.err);
    }

    r = Run({"send", "close"});
    EXPECT_EQ(0, r.exit) << r.err;
    EXPECT_EQ("close: Pelorn closed\n", r.out);
    EXPECT_EQ(0, pelorn_->Wait());

    // GPSHDL still names the window, which is gone.
    r = Run({"send", "show"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("handheld send: no Pelorn window on this device: window " + handle +
                  " named by GPSHDL does not exist (error 1400)\n",
              r.err);
    EXPECT_TRUE(Has(Status(), "{\"running\":false,\"window\":" + std::to_string(window_) + ","));
}

TEST_F(LiveTest, AStatusDuringAResetSaysWhatItWaitsForThenAnswers) {
    pelorn_test::Pty pty;
    ASSERT_EQ(0, Run({"ports", "COM1", pty.path()}).exit);
    auto reset = std::async(std::launch::async, [&] { return Run({"send", "reset"}); });
    ASSERT_EQ(kResetSentence, pty.Heard(61, kStartPatience)) << "the reset is under way";
    // Its 5 s wait holds the loop: the status says what it waits for, then prints the answer.
    Ran r = Run({"status"});
    EXPECT_EQ(0, r.exit);
    EXPECT_TRUE(Has(r.err, "handheld status: Pelorn (pid " + std::to_string(pelorn_->pid()) + ") is busy: its window " +
                               Hex8(window_) + " is handling a message"))
        << r.err;
    EXPECT_TRUE(Has(r.err, "it holds COM1 (" + pty.path() + ") open")) << r.err;
    EXPECT_EQ(0u, r.out.find("Pelorn         = running (pid " + std::to_string(pelorn_->pid()))) << r.out;
    EXPECT_EQ(0, reset.get().exit);
}

TEST_F(LiveTest, StatusAndLogTellReceiverProfileFirmwareCom1AndWhatOthersDid) {
    std::optional<std::string> applied = StatusWhen("\"PowerManager/ReloadActivityTimeouts\":1}", kStartPatience);
    ASSERT_TRUE(applied);
    const std::string pid = std::to_string(pelorn_->pid());
    for (const std::string& part :
         {std::string("\"pins\":{\"21\":0,\"38\":0,\"38_hardware\":null}"),
          std::string(
              "\"profile\":{\"in_force\":\"STD\",\"why\":\"pin 38 is low: the receiver is "
              "off\",\"GPS\":{\"PwrTimeOut\":180,\"BlTimeOut\":30,\"Slide\":10,"
              "\"Backlight\":0,\"Power\":0},\"STD\":{\"PwrTimeOut\":180,\"BlTimeOut\":30,\"Slide\":5,"
              "\"Backlight\":1,\"Power\":1},\"Temp_ACTimeOut\":60},\"State_Chg\":0,\"firmware\":\" 00.00.00.00\","
              "\"com1\":{\"mapping\":\"sim\",\"open\":false},\"system\":{\"state\":\"running\",\"pid\":" +
              pid + "}}")})
        EXPECT_TRUE(Has(*applied, part)) << part << "\n" << *applied;
    Ran words = Run({"status"});
    for (const std::string& line :
         {"Pelorn         = running (pid " + pid + ", window " + Hex8(window_) + ")\n",
          std::string("Receiver       = off (pin 38 low, pin 21 low; the hardware leaves pin "
                      "38 alone)\nProfile        = STD in force: pin 38 is low: the "
                      "receiver is off\n"),
          std::string("  GPS          = backlight off never, suspend never, brightness 10\n"),
          std::string("  STD          = backlight off after 30 s, suspend after 180 s, "
                      "brightness 5\n"),
          std::string("Time-outs      = BatteryTimeout 30 s, BattSuspendTimeout 180 s\n"),
          std::string("State_Chg      = 0\nFirmware       = \" 00.00.00.00\"\n"
                      "COM1           = sim (closed)\nTray icon      = 132 (receiver off)\n")})
        EXPECT_TRUE(Has(words.out, line)) << line << words.out;

    // Other programs' doings, in the log, every line with its wall-clock time.
    ASSERT_EQ(0, Run({"send", "hide"}).exit);
    ASSERT_EQ(0, Run({"reg", "add", "HKCU\\Software\\MicroSoft\\Shell", "/v", "State_Chg", "/t", "REG_DWORD", "/d", "5",
                      "/f"})
                     .exit);
    ASSERT_TRUE(StatusWhen("\"PowerManager/ReloadActivityTimeouts\":2}", kStartPatience));
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d +\d+\.\d{3}  (.*))");
    std::vector<std::string> told;
    std::istringstream log(pelorn_->Output());
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (line.rfind("pelorn: ", 0) == 0) continue;
        EXPECT_TRUE(std::regex_match(line, m, stamped)) << line;
        told.push_back(m.size() > 1 ? m[1].str() : line);
    }
    for (const std::string& text : {std::string("firmware: not recorded yet (this is the first run)"),
                                    std::string("message box \"Pelorn\": Wrong GPS firmware [OK]"),
                                    std::string("firmware recorded: \" 00.00.00.00\""),
                                    std::string("profile in force: STD (backlight off after 30 s, suspend after 180 "
                                                "s, brightness 5): pin 38 is low: the receiver is off"),
                                    std::string("State_Chg: 5 (set by another program): the profile is applied again")})
        EXPECT_EQ(1, std::count(told.begin(), told.end(), text)) << text << "\n" << pelorn_->Output();
    EXPECT_EQ(1, std::count_if(told.begin(), told.end(),
                               [](const std::string& t) {
                                   return std::regex_match(t, std::regex("sent: hide \\(0x0402\\) from pid [0-9]+"));
                               }))
        << pelorn_->Output();
}

TEST_F(CommandLineTest, AStatusWhileTheFirstRunReadsTheFirmwareSaysPelornIsStarting) {
    // A receiver that trickles one byte every 200 ms: the read goes on until its 5 s limit.
    pelorn_test::Pty pty;
    ASSERT_EQ(0, Handheld(Device(), {"ports", "COM1", pty.path()}).exit);
    pty.Talk(std::string(40, 'x'), std::chrono::milliseconds(200));
    pelorn_test::PelornProcess pelorn(Device());
    const std::string starting = "handheld status: Pelorn (pid " + std::to_string(pelorn.pid()) +
                                 ") is starting: it has not published its window in GPSHDL yet";
    Ran r;
    for (int i = 0; i < 100 && !Has(r.err, starting); ++i)
        r = Handheld(Device(), {"status", "--json"});
    EXPECT_TRUE(Has(r.err, starting)) << r.err;
    EXPECT_TRUE(Has(r.err, "; it holds COM1 (" + pty.path() + ") open")) << r.err;
    EXPECT_TRUE(Has(r.out, "\"running\":true")) << r.out;
    pty.Hush();
}

TEST_F(LiveTest, AClosedTerminalClosesItAsWmCloseDoesAndLeavesNothingBehind) {
    ASSERT_EQ(0, kill(pelorn_->pid(), SIGHUP));
    EXPECT_EQ(0, pelorn_->Wait());
    EXPECT_TRUE(Has(pelorn_->Output(), "tray: icon removed")) << pelorn_->Output();
    EXPECT_TRUE(Has(pelorn_->Output(), "pelorn: closed\n")) << pelorn_->Output();
    for (const char* sub : {"/run", "/windows"})
        for (const auto& entry : std::filesystem::directory_iterator(Device() + sub))
            ADD_FAILURE() << "left behind: " << entry.path();
    EXPECT_TRUE(Has(Status(), "{\"running\":false,\"window\":" + std::to_string(window_) + ","));
}

TEST_F(LiveTest, RegistryAndHardwareChangedOutsideAreSeenOnTheNextTick) {
    // The first tick applies the profile; a State_Chg set from outside makes the next one apply it again.
    std::optional<std::string> first = StatusWhen("\"PowerManager/ReloadActivityTimeouts\":1}", kStartPatience);
    ASSERT_TRUE(first);
    std::optional<long long> applied = pelorn_test::JsonNumber(*first, "BatteryTimeout");
    ASSERT_TRUE(applied);
    ASSERT_EQ(0, Run({"reg", "add", "HKCU\\ControlPanel\\Backlight", "/v", "BatteryTimeout", "/t", "REG_DWORD", "/d",
                      "999", "/f"})
                     .exit);
    Ran r =
        Run({"reg", "add", "HKCU\\Software\\MicroSoft\\Shell", "/v", "State_Chg", "/t", "REG_DWORD", "/d", "5", "/f"});
    EXPECT_EQ("The operation completed successfully.\n", r.out);
    std::optional<std::string> refreshed = StatusWhen("\"PowerManager/ReloadActivityTimeouts\":2}", kStartPatience);
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(applied, pelorn_test::JsonNumber(*refreshed, "BatteryTimeout"));
    EXPECT_TRUE(Has(Run({"reg", "query", "HKCU\\Software\\MicroSoft\\Shell", "/v", "State_Chg"}).out,
                    "State_Chg    REG_DWORD    0x0"))
        << "the flag the tick saw is cleared";

    // Pin 38 held low, then high, by the hardware: the mode follows by the next tick (1.5 s).
    const std::string on = "{\"id\":65008,\"text\":\"GPS On\",\"checked\":true}";
    const std::string off = "{\"id\":65009,\"text\":\"GPS OFF\",\"checked\":true}";
    ASSERT_EQ(0, Run({"set", "pin38=low", "ac=online"}).exit);
    std::optional<std::string> low = StatusWhen(off, kStartPatience);
    ASSERT_TRUE(low);
    EXPECT_TRUE(Has(*low, "\"38_hardware\":\"low\"},\"ac_line\":\"online\""));
    ASSERT_EQ(0, Run({"set", "pin38=high"}).exit);
    // One tick period, plus room for a loaded machine to run the status processes.
    std::optional<std::string> high = StatusWhen(on, std::chrono::milliseconds(1500 + 1500));
    ASSERT_TRUE(high) << Status();
    EXPECT_TRUE(Has(*high, "\"pins\":{\"21\":1,\"38\":1,\"38_hardware\":\"high\"}"));
}

TEST_F(LiveTest, AnotherUsersProcessIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    // Only the device folder itself keeps the stranger out.
    ASSERT_EQ(0, chmod(root_.c_str(), 0755));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"send", "hide"}, {"status"}, {"reg", "add", "HKCU\\X", "/v", "Y", "/d", "1"}}) {
        Ran r = Handheld(Device(), args, 65534);
        EXPECT_EQ(1, r.exit) << "refused, not crashed: " << r.err;
        EXPECT_TRUE(Has(r.err, "no access to the device folder " + Device())) << r.err;
        EXPECT_EQ("", r.out);
    }
    std::string status = Status();
    EXPECT_TRUE(Has(status, "\"running\":true")) << status;
    EXPECT_FALSE(Has(status, "\"tray_icon\":null")) << "the hide did not arrive";
    EXPECT_NE(0, Run({"reg", "query", "HKCU\\X"}).exit);
}

TEST_F(LiveTest, TenThousandMessagesFromSeveralProcessesLeaveTheSystemResponsive) {
    constexpr int kSenders = 5, kEach = 2000;
    auto resident_pages = [&, size = 0L, pages = -1L]() mutable {
        std::ifstream("/proc/" + std::to_string(pelorn_->pid()) + "/statm") >> size >> pages;
        return pages;
    };
    const long before = resident_pages();
    constexpr UINT kUnknown = WM_USER + 50;  // the frame leaves it to default handling
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window_));
    std::vector<pid_t> senders;
    for (int i = 0; i < kSenders; ++i) {
        pid_t p = fork();
        ASSERT_GE(p, 0);
        if (p == 0) {
            host::BootOptions options;
            options.folder = Device();
            options.virtual_clock = false;
            host::Handheld::Boot(options);
            // Every fifth message waits for its answer; the rest are posted.
            int failures = 0;
            for (int n = 0; n < kEach; ++n) {
                SetLastError(ERROR_SUCCESS);
                if (n % 5 == 0)
                    failures += SendMessage(window, kUnknown, n, 1) != 0 || GetLastError() != ERROR_SUCCESS;
                else
                    failures += !PostMessage(window, n % 2 ? WM_NULL : kUnknown, 0, 0);
            }
            host::Handheld::PowerOff();
            _exit(failures == 0 ? 0 : 1);
        }
        senders.push_back(p);
    }
    for (pid_t p : senders) {
        int status = 0;
        waitpid(p, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a sender saw a failure";
    }
    EXPECT_EQ(0, Run({"send", "hide"}).exit);
    EXPECT_EQ(0, Run({"send", "show"}).exit);
    std::string status = Status();
    EXPECT_TRUE(Has(status, "\"running\":true")) << status;
    EXPECT_TRUE(Has(status, "\"message_boxes\":[]")) << status;
    std::printf("10,000 messages: pelorn resident %ld pages before, %ld after\n", before, resident_pages());
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: resident size says nothing here";
#elif defined(__arm__)
    GTEST_SKIP() << "under qemu-user, resident size is mostly the emulator's own (translated code)";
#endif
    EXPECT_LE(resident_pages(), before + 128) << "more than a full queue of posts takes";
}

TEST_F(CommandLineTest, ARegistryThatCannotBeWrittenIsRefusedNamingItAndNothingIsMadeBesideIt) {
    // Root may write any file: as root, the device is somebody else's, who runs everything.
    const int user = geteuid() == 0 ? 65534 : -1;
    ASSERT_EQ(0, chmod(root_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(Device().c_str(), 0700));
    ASSERT_EQ(0, user < 0 ? 0 : chown(Device().c_str(), user, user));
    ASSERT_EQ(0, Handheld(Device(), {"ports"}, user).exit);
    ASSERT_EQ(0, chmod((Device() + "/registry.db").c_str(), 0444));
    pelorn_test::PelornProcess pelorn(Device(), user);
    EXPECT_EQ(1, pelorn.Wait());
    EXPECT_EQ("pelorn: the file " + Device() + "/registry.db is read-only (mode 0444); Pelorn needs to write it\n",
              pelorn.Output());
    for (const char* beside : {"-journal", "-wal", "-shm"})
        EXPECT_NE(0, access((Device() + "/registry.db" + beside).c_str(), F_OK)) << beside;
}

}  // namespace

namespace {

TEST_F(LiveTest, ASecondPelornOnTheDeviceStopsNamingTheFirstWhichStaysReachable) {
    const std::string pid = std::to_string(pelorn_->pid());
    Ran second = pelorn_test::Program(pelorn_test::PelornExe(), {"--headless", "--device", Device()});
    EXPECT_EQ(1, second.exit);
    EXPECT_TRUE(Has(second.err, "pelorn: Pelorn already runs on the device in ")) << second.err;
    EXPECT_TRUE(Has(second.err, " (pid " + pid + "); one device runs one Pelorn, so this one stops")) << second.err;
    EXPECT_TRUE(Has(Run({"status"}).out, "Pelorn         = running (pid " + pid + ", window " + Hex8(window_) + ")"));
    Ran close = Run({"send", "close"});
    EXPECT_EQ(0, close.exit) << close.err;
    EXPECT_EQ(0, pelorn_->Wait());
}

TEST_F(LiveTest, StatusAndLogSayWhyTheProfileHoldsAndWhereTheBrightnessComesFrom) {
    ASSERT_TRUE(StatusWhen("\"PowerManager/ReloadActivityTimeouts\":1}", kStartPatience));
    ASSERT_EQ(0, Run({"set", "pin38=high", "ac=online"}).exit);
    ASSERT_TRUE(StatusWhen("\"in_force\":\"GPS\"", kStartPatience)) << Status();
    std::string words = Run({"status"}).out;
    for (const char* line :
         {"Profile        = GPS in force: pin 38 is high: the receiver is powered\n",
          "Backlight      = level 5, from STD_Slide: on external power the brightness comes from STD_Slide, even with "
          "the receiver powered\n",
          "Time-outs      = BatteryTimeout never, BattSuspendTimeout never\n"})
        EXPECT_TRUE(Has(words, line)) << line << words;

    // A profile set by name is applied at the next tick; time-outs written by another program match neither.
    Ran set = Run({"profile", "GPS", "backlight=45", "suspend=never", "brightness=3"});
    EXPECT_EQ(0, set.exit) << set.err;
    EXPECT_TRUE(Has(set.out,
                    "GPS profile, while the receiver is powered: backlight off after 45 s, suspend never, "
                    "brightness 3\n  GPS_BlTimeOut   45          backlight time-out on battery, seconds\n"
                    "  GPS_Backlight   1 "))
        << set.out;
    ASSERT_TRUE(StatusWhen("\"BatteryTimeout\":45", kStartPatience)) << Status();
    ASSERT_EQ(0, Run({"reg", "add", "HKCU\\ControlPanel\\Backlight", "/v", "BatteryTimeout", "/t", "REG_DWORD", "/d",
                      "0", "/f"})
                     .exit);
    ASSERT_TRUE(StatusWhen("\"in_force\":null", kStartPatience)) << Status();
    EXPECT_TRUE(Has(Run({"status"}).out,
                    "Profile        = none in force: the time-outs written (BatteryTimeout never, BattSuspendTimeout "
                    "never) match neither profile: GPS would write BatteryTimeout 45 s, STD BatteryTimeout 30 s, "
                    "BattSuspendTimeout 180 s"));
    for (const char* line :
         {"profile in force: GPS (backlight off never, suspend never, brightness 10): pin 38 is high",
          "backlight: level 5, from STD_Slide: on external power",
          "profile in force: none: the time-outs written (BatteryTimeout never",
          "profile in force: GPS (backlight off after 45 s, suspend never, brightness 3): pin 38"})
        EXPECT_TRUE(Has(pelorn_->Output(), line)) << line << "\n" << pelorn_->Output();
}

TEST_F(CommandLineTest, ProfilesAreListedByTheirRegistryNames) {
    ASSERT_EQ(0, Handheld(Device(), {"reg", "add", "HKCU\\Software\\MicroSoft\\Shell", "/v", "STD_BlTimeOut", "/t",
                                     "REG_DWORD", "/d", "30", "/f"})
                     .exit);
    Ran set = Handheld(Device(), {"profile", "STD", "backlight=never", "suspend=600"});
    EXPECT_EQ(0, set.exit) << set.err;
    Ran listed = Handheld(Device(), {"profile"});
    EXPECT_EQ(0, listed.exit);
    EXPECT_EQ(0u, listed.out.find("GPS profile, while the receiver is powered: backlight off never, suspend never, "
                                  "brightness 0\n  GPS_BlTimeOut   missing "))
        << listed.out;
    EXPECT_TRUE(Has(listed.out,
                    "STD profile, while it is off: backlight off never, suspend after 600 s, brightness 0\n"
                    "  STD_BlTimeOut   30          backlight time-out on battery, seconds\n"
                    "  STD_Backlight   0           0: no backlight time-out (never)\n"
                    "  STD_PwrTimeOut  600         suspend time-out on battery, seconds\n"
                    "  STD_Power       1           0: no suspend time-out (never)\n"))
        << listed.out;
    EXPECT_TRUE(Has(Handheld(Device(), {"reg", "query", "HKCU\\Software\\MicroSoft\\Shell", "/v", "State_Chg"}).out,
                    "State_Chg    REG_DWORD    0x1"));
}

TEST_F(CommandLineTest, TheFirmwareIsReadOnDemandAndRecorded) {
    EXPECT_EQ("FW is not recorded: Pelorn has not run on this device yet\n", Handheld(Device(), {"firmware"}).out);
    // A receiver without power says nothing: the first run's fallback.
    Ran silent = Handheld(Device(), {"firmware", "--read"});
    EXPECT_EQ(0, silent.exit) << silent.err;
    EXPECT_EQ(
        "version: \" 00.00.00.00\" (the receiver's words give none: \"Wrong GPS firmware\")\nheard: nothing (a "
        "receiver without power says nothing: pin 38 high powers it)\n",
        silent.out);
    ASSERT_EQ(0, Handheld(Device(), {"reg", "add", "HKLM\\SOFTWARE\\Apps\\Tavro SW", "/f"}).exit);
    ASSERT_EQ(0, Handheld(Device(), {"set", "pin38=high"}).exit);
    Ran read = Handheld(Device(), {"firmware", "--read", "--record"});
    EXPECT_EQ(0, read.exit) << read.err;
    EXPECT_EQ(
        "version: \" 03.01.00.12\"\nheard: \"$PSRFTXT,Version: 03.01.00.12-HH01*20\\r\\n\"\n"
        "FW = \" 03.01.00.12\" recorded\n",
        read.out);
    EXPECT_EQ("FW = \" 03.01.00.12\" (recorded at the first run)\n", Handheld(Device(), {"firmware"}).out);
}

TEST_F(LiveTest, TheFirmwareReadStopsWhilePelornHasCom1Open) {
    pelorn_test::Pty pty;
    ASSERT_EQ(0, Run({"ports", "COM1", pty.path()}).exit);
    auto reset = std::async(std::launch::async, [&] { return Run({"send", "reset"}); });
    ASSERT_EQ(kResetSentence, pty.Heard(61, kStartPatience)) << "the reset holds COM1";
    Ran r = Run({"firmware", "--read"});
    EXPECT_EQ(1, r.exit);
    EXPECT_EQ("handheld firmware: COM1 is open in process " + std::to_string(pelorn_->pid()) +
                  " (Pelorn holds it for a reset, about 5 s, or for its first run's read); the port has one user at "
                  "a time: try again once it is closed\n",
              r.err);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0, reset.get().exit);
}

}  // namespace
