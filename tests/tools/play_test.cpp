// `handheld play`: scripts run on a fresh device, their trace and reg output, and their errors.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "handheld/play.h"
#include "tools/cli_support.h"

namespace {

struct Played {
    int rc = 0;
    std::string out;
    std::string err;
    std::vector<nlohmann::json> records;  // the trace, in the order written

    std::vector<nlohmann::json> Calls(const std::string& call) const {
        std::vector<nlohmann::json> found;
        for (const auto& r : records)
            if (r["call"] == call) found.push_back(r);
        return found;
    }
    // The first record of `call` holding every field in `fields`; -1 when there is none.
    long Find(const std::string& call, const nlohmann::json& fields = nlohmann::json::object()) const {
        for (std::size_t i = 0; i < records.size(); ++i) {
            bool all = records[i]["call"] == call;
            for (const auto& [name, value] : fields.items())
                all = all && records[i].contains(name) && records[i][name] == value;
            if (all) return static_cast<long>(i);
        }
        return -1;
    }
    // Where `text` first appears in what the script printed; npos when it does not.
    std::size_t At(const std::string& text) const { return out.find(text); }
};

Played Play(const std::string& script, const std::string& folder = ".") {
    Played r;
    std::ostringstream out, err;
    r.rc = handheld::PlayScript(script, "test.play", folder, out, err);
    r.out = out.str();
    r.err = err.str();
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] == '{') r.records.push_back(nlohmann::json::parse(line));
    return r;
}

std::string SourceFolder() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/tools/"));
}

const char kFirmware[] = "com1 send \"$PSRFTXT,Version: 03.01.00.12-HH01*3C\\r\\n\"\n";

TEST(PlayTest, ScriptErrorsStopTheRunAndNameTheirLine) {
    // Found before anything runs: nothing is traced.
    Played r = Play("start\n\n# fine so far\nwait soon\n");
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("test.play:4: usage: wait MS\n", r.err);
    EXPECT_EQ("", r.out);

    EXPECT_EQ("test.play:1: unknown step 'push'\n", Play("push 1\n").err);
    EXPECT_EQ("test.play:2: com1 send: \\x needs two hex digits\n", Play("start\ncom1 send \"A\\x4\"\n").err);
    EXPECT_EQ("test.play:1: reg: unknown type 'REG_WORD'\n", Play("reg add HKCU\\X /v Y /t REG_WORD /d 1\n").err);
    EXPECT_EQ("test.play:1: fail: Beep cannot be made to fail (see --help)\n", Play("fail Beep\n").err);
    EXPECT_EQ("test.play:1: a quote is not closed\n", Play("pick \"GPS On\n").err);
    EXPECT_EQ("test.play:1: send: only the window manager sends message 6\n", Play("send 6\n").err);
    EXPECT_EQ("test.play:1: usage: send show|hide|reset|close|about | send MSG [WPARAM]\n", Play("send 0x10000\n").err);

    // Found while running: the trace up to the step is printed, nothing after it.
    r = Play(std::string(kFirmware) + "start\nok\nsend close\n");
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("test.play:3: ok: nothing is waiting for an answer\n", r.err);
    EXPECT_EQ(1u, r.Calls("SetTimer").size()) << "start ran";
    EXPECT_TRUE(r.Calls("KillTimer").empty()) << "the close after the error did not";

    r = Play("start\nstart\n");
    EXPECT_EQ("test.play:2: start: the system is running (send close first)\n", r.err);
    r = Play("start\ntap 226\npick \"GPS Maybe\"\n");
    EXPECT_EQ("test.play:3: pick: the menu has no item \"GPS Maybe\"\n", r.err);
    EXPECT_EQ("test.play:1: reg: ERROR: The system was unable to find the specified registry key or value.\n",
              Play("reg delete HKLM\\Software\\Nothing /f\n").err);
    // An offset past 4 GiB is past the end on every build, not cut to 32 bits.
    EXPECT_EQ("test.play:1: com1 log: the log is shorter than the offset\n",
              Play("com1 log receiver.nmea 4294967296\n", SourceFolder() + "/examples/scenarios").err);
}

TEST(PlayTest, Com1TextReachesTheSystemByteForByteAtTheNextOpen) {
    // Given before the start, delivered when the firmware query opens the port: the escapes
    // become the bytes they stand for, and the trace shows them escaped again.
    Played r = Play(
        "com1 send \"$PSRFTXT,Version: 1.2-X\\x01\\\"\\\\\\r\\n\"\n"
        "start\n"
        "reg query \"HKLM\\SOFTWARE\\Apps\\Tavro SW\" /v FW\n");
    ASSERT_EQ(0, r.rc) << r.err;
    std::string text;
    for (const auto& read : r.Calls("ReadFile")) {
        EXPECT_EQ("COM1:", read["device"]) << read;
        text += read["text"];
    }
    EXPECT_EQ("$PSRFTXT,Version: 1.2-X\\x01\"\\\\\\r\\n", text);
    EXPECT_NE(std::string::npos, r.At("    FW    REG_SZ     1.2\n"));

    // Text given while nothing has the port open waits for it; a receiver told to be silent
    // drops what it had not sent.
    r = Play(
        "com1 send \"$PSRFTXT,Version: 9-X\\r\\n\"\ncom1 silent\nstart\n"
        "reg query \"HKLM\\SOFTWARE\\Apps\\Tavro SW\" /v FW\n");
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_TRUE(r.At("Version: 9") == std::string::npos);
    EXPECT_EQ(1u, r.Calls("MessageBox").size()) << "no firmware text: the system says so";
}

TEST(PlayTest, AnswersGoToTheInnermostLoopWaiting) {
    // The About box is open (SendMessage waits in its loop); a tap opens the menu inside it, the
    // pick answers the menu, the ok the About box, and only then does SendMessage return.
    Played r = Play(std::string(kFirmware) +
                    "start\n"
                    "send about\n"
                    "tap 226\n"
                    "pick \"GPS On\"\n"
                    "ok\n"
                    "wait 1500\n");
    ASSERT_EQ(0, r.rc) << r.err;
    long menu = r.Find("TrackPopupMenu"), pins = r.Find("GpioWrite"), dialog = r.Find("DialogBoxParam");
    ASSERT_NE(-1, menu);
    EXPECT_EQ(65008, r.records[menu]["chosen"]);
    EXPECT_LT(menu, pins) << "the receiver went on while the About box was open";
    EXPECT_LT(pins, dialog);
    EXPECT_EQ(-1, r.Find("SendMessage")) << "the script's own send is not the system's call";

    // A fault armed for the system waits for the system: the script's send does not use it up.
    r = Play(std::string(kFirmware) + "start\nfail SendMessage\nsend hide\nwait 1500\n");
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_NE(-1, r.Find("Shell_NotifyIcon", {{"op", "delete"}})) << "the hide arrived";

    // A message box of a tick waits for `ok` while time runs on; the ticks inside it open no
    // second box, and a menu cannot be answered with ok.
    r = Play(std::string(kFirmware) + "start\nfail Shell_NotifyIcon 3\nwait 6000\nok\nwait 1500\n");
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(1u, r.Calls("MessageBox").size());
    EXPECT_EQ("test.play:4: ok: a menu is open (pick)\n", Play("start\nwait 3000\ntap 226\nok\n").err);
}

TEST(PlayTest, RegStepsEditTheDeviceAndQueryPrintsAsRegExe) {
    Played r = Play(
        "reg add HKCU\\Software\\Tour /v Count /t REG_DWORD /d 0x1F /f\n"
        "reg add HKCU\\Software\\Tour /v Name /d \"two words\"\n"
        "reg add HKCU\\Software\\Tour /ve /d default\n"
        "reg add HKCU\\Software\\Tour /v Blob /t REG_BINARY /d 0aFF\n"
        "reg add HKCU\\Software\\Tour /v List /t REG_MULTI_SZ /s , /d a,b\n"
        "reg add HKCU\\Software\\Tour\\Sub /v Big /t REG_QWORD /d 4294967296\n"
        "reg query HKCU\\Software\\Tour\n"
        "reg query hkey_current_user\\Software\\Tour /s\n"
        "reg delete HKCU\\Software\\Tour /v Name /f\n"
        "reg query HKCU\\Software\\Tour /v Name\n"
        "reg delete HKCU\\Software\\Tour /f\n"
        "reg query HKCU\\Software\\Tour\n");
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(
        "\nHKEY_CURRENT_USER\\Software\\Tour\n"
        "    Count    REG_DWORD    0x1f\n"
        "    Name    REG_SZ    two words\n"
        "    (Default)    REG_SZ    default\n"
        "    Blob    REG_BINARY    0AFF\n"
        "    List    REG_MULTI_SZ    a\\0b\n"
        "\nHKEY_CURRENT_USER\\Software\\Tour\\Sub\n"
        "\n"
        "\nHKEY_CURRENT_USER\\Software\\Tour\n"
        "    Count    REG_DWORD    0x1f\n"
        "    Name    REG_SZ    two words\n"
        "    (Default)    REG_SZ    default\n"
        "    Blob    REG_BINARY    0AFF\n"
        "    List    REG_MULTI_SZ    a\\0b\n"
        "\nHKEY_CURRENT_USER\\Software\\Tour\\Sub\n"
        "    Big    REG_QWORD    0x100000000\n"
        "\n"
        "ERROR: The system was unable to find the specified registry key or value.\n"
        "ERROR: The system was unable to find the specified registry key or value.\n",
        r.out);
    EXPECT_EQ("", r.err);
}

TEST(PlayTest, TheTourRunsFromStartToClose) {
    std::string folder = SourceFolder() + "/examples/scenarios";
    std::ifstream in(folder + "/tour.play");
    ASSERT_TRUE(in) << folder;
    std::ostringstream text;
    text << in.rdbuf();
    Played r = Play(text.str(), folder);
    ASSERT_EQ(0, r.rc) << r.err;

    EXPECT_NE(-1, r.Find("Shell_NotifyIcon", {{"dwMessage", 0}, {"op", "add"}}));
    EXPECT_NE(std::string::npos, r.At("    FW    REG_SZ     03.01.00.12\n"));
    EXPECT_NE(std::string::npos, r.At("    FW    REG_SZ     04.00.00.01\n")) << "provisioned again after the restart";
    EXPECT_EQ(3u, r.Calls("TrackPopupMenu").size());
    EXPECT_EQ(2u, r.Calls("MessageBox").size());
    EXPECT_EQ(2u, r.Calls("SetTimer").size()) << "the start without a backlight driver starts no timer";
    EXPECT_NE(-1, r.Find("WriteFile")) << "the reset sentence";
    EXPECT_NE(-1, r.Find("RegSetValueEx", {{"name", "BatteryTimeout"}, {"type", "REG_DWORD"}, {"data", 0}}));
    EXPECT_NE(-1, r.Find("DeviceIoControl", {{"device", "BKL1:"}, {"code", 100}, {"in", {12, 10}}})) << "GPS_Slide";
    EXPECT_NE(-1, r.Find("DeviceIoControl", {{"device", "BKL1:"}, {"code", 100}, {"in", {12, 5}}})) << "STD_Slide";
}

TEST(PlayTest, WhatAScriptReadsIsBoundedAndAWaitCostsWhatHappensInIt) {
    for (const char* step : {"com1 log /dev/zero\n", "reg import /dev/zero\n"}) {
        Played r = Play(step);
        EXPECT_NE(std::string::npos, r.err.find(": /dev/zero holds more than ")) << r.err;
    }
    EXPECT_EQ("handheld play: /dev/zero holds more than 16 MiB, more than a scenario can\n",
              pelorn_test::Handheld(".", {"play", "/dev/zero"}).err);

    // Thirty years with nothing running pass at once; the system then starts at that time.
    Played r = Play("wait 999999999999\nstart\n");
    EXPECT_EQ(0u, r.At("{\"t\":999999999999,\"call\":")) << r.out.substr(0, 100);
}

}  // namespace
