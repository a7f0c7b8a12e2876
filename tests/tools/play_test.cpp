// `handheld play`: scripts run on a fresh device, their trace and reg output, and their errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "handheld/play/play.h"
#include "support/device_test.h"
#include "tools/cli_support.h"

namespace {

struct Played {
    int rc = 0;
    std::string raw;  // every line written
    std::string out;  // what the steps printed
    std::string err;
    std::vector<nlohmann::json> lines;    // every record
    std::vector<nlohmann::json> records;  // the system's calls, in the order written

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
    r.raw = out.str();
    r.err = err.str();
    std::istringstream lines(r.raw);
    for (std::string line; std::getline(lines, line);) {
        r.lines.push_back(nlohmann::json::parse(line));  // throws on anything but a JSON line
        const nlohmann::json& record = r.lines.back();
        if (record.contains("call")) r.records.push_back(record);
        if (record.contains("output")) r.out += record["output"].get<std::string>();
    }
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
    EXPECT_EQ("", r.raw);

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
    EXPECT_LT(dialog, menu);
    EXPECT_LT(menu, pins);
    EXPECT_EQ("DialogBoxParam", r.records[pins]["within"]) << "the receiver went on while the About box was open";
    EXPECT_EQ("DialogBoxParam", r.records[menu]["within"]);
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

TEST(PlayTest, EveryLineIsARecordInTimeOrderAndCallsFollowTheStepThatCausedThem) {
    std::string folder = SourceFolder() + "/examples/scenarios";
    std::ifstream in(folder + "/tour.play");
    std::ostringstream text;
    text << in.rdbuf();
    Played r = Play(text.str(), folder);  // every line parsed as JSON
    ASSERT_EQ(0, r.rc) << r.err;

    std::vector<int> steps;
    long long t = 0;
    for (const auto& record : r.lines) {
        EXPECT_LE(t, record["t"].get<long long>()) << record;
        t = record["t"];
        if (record.contains("step")) steps.push_back(record["line"]);
    }
    std::vector<int> written;  // every line of the tour that holds a step
    std::istringstream lines(text.str());
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line[0] != '#') written.push_back(number);
    }
    EXPECT_EQ(written, steps);

    // What follows a step up to the next one is what it caused; a step taken while a call waits
    // for the person names that call.
    auto after = [&r](const std::string& step) {
        std::vector<nlohmann::json> caused;
        bool in = false;
        for (const auto& record : r.lines) {
            if (record.contains("step")) {
                if (in) break;
                in = record["step"] == step;
                if (in) caused.push_back(record);
            } else if (in) {
                caused.push_back(record);
            }
        }
        return caused;
    };
    std::vector<nlohmann::json> pick = after("pick \"GPS On\"");
    ASSERT_GE(pick.size(), 3u);
    EXPECT_EQ("TrackPopupMenu", pick[0]["within"]);
    EXPECT_EQ(3181, pick[0]["t"]);
    std::vector<std::string> pins;
    for (const auto& record : pick)
        if (record.value("call", "") == "GpioWrite") pins.push_back(record["offset"]);
    EXPECT_EQ((std::vector<std::string>{"0x1C", "0x18"}), pins) << "pin 38 set, then pin 21";
    std::vector<nlohmann::json> ok = after("ok");
    ASSERT_FALSE(ok.empty());
    EXPECT_EQ("DialogBoxParam", ok[0]["within"]) << "the first ok answers the About box";

    std::vector<nlohmann::json> query = after("reg query \"HKLM\\SOFTWARE\\Apps\\Tavro SW\" /v FW");
    ASSERT_EQ(2u, query.size());
    EXPECT_EQ(12, query[1]["line"]);
    EXPECT_EQ("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Tavro SW\n    FW    REG_SZ     03.01.00.12\n\n",
              query[1]["output"]);
}

TEST(PlayTest, TheSummarySaysWhatHappenedInWordsAMomentALine) {
    std::string tour = SourceFolder() + "/examples/scenarios/tour.play";
    pelorn_test::Ran r = pelorn_test::Handheld(".", {"play", "--summary", tour});
    ASSERT_EQ(0, r.exit) << r.err;
    for (const char* line : {
             "   0.00 s  the system starts; tray icon 132 (red square) added\n",
             "   0.18 s  firmware version recorded: 03.01.00.12; GPSHDL names window 0x10004\n",
             "   1.68 s  backlight level 5; standard profile applied: backlight off after 30 s, suspend after 180 s\n",
             "   3.18 s  \"GPS On\" chosen; tray icon 130 (dark green square); pin 38 high\n",
             "   3.28 s  pin 21 high\n",
             "   4.68 s  backlight level 10; GPS profile applied: backlight off never, suspend never\n",
             "   6.28 s  AC line online\n",
             "  10.78 s  tap beside the menu\n",
             "  12.38 s  the hardware drives pin 38 high\n",
             "  18.38 s  another program sends about (answered 1); About box shown\n  18.38 s  OK pressed\n",
             "  19.68 s  message box \"Shell_NotifyIcon Failure\"\n",
             "  19.98 s  COM1: sends \"$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\\r\\n\" (61 "
             "bytes)\n",
             "           HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\Tavro SW\n               FW    REG_SZ     04.00.00.01\n",
         })
        EXPECT_NE(std::string::npos, r.out.find(line)) << line;

    // Every line a moment, in time order, or what a step printed beneath it.
    std::istringstream lines(r.out);
    const std::regex moment(R"( *(\d+\.\d\d) s  \S.*)");
    double t = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line.rfind("           ", 0) == 0) continue;
        ASSERT_TRUE(std::regex_match(line, m, moment)) << line;
        EXPECT_LE(t, std::stod(m[1])) << line;
        t = std::stod(m[1]);
    }
    EXPECT_EQ(31.66, t);
}

// The width and height a PNG file says it has; zero when it is none.
std::pair<unsigned, unsigned> PngSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[24] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    if (!in || std::string(reinterpret_cast<char*>(head) + 1, 3) != "PNG") return {0, 0};
    auto word = [&head](int at) {
        return unsigned(head[at]) << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3];
    };
    return {word(16), word(20)};
}

TEST(PlayTest, TheTimelineDrawsEachLaneAndARendererShowsIt) {
    std::string folder = pelorn_test::MakeTempFolder("pelorn-timeline");
    std::string svg = folder + "/tour.svg";
    pelorn_test::Ran r =
        pelorn_test::Handheld(".", {"play", "--timeline", svg, SourceFolder() + "/examples/scenarios/tour.play"});
    ASSERT_EQ(0, r.exit) << r.err;
    ASSERT_EQ(0u, r.out.find("{\"t\":0,\"step\":\"com1 log receiver.nmea 0\",\"line\":9}\n")) << "records as ever";
    std::ifstream in(svg);
    std::stringstream text;
    text << in.rdbuf();
    const std::string picture = text.str();

    // The renderer draws the whole picture at the size it declares, and finds every lane in it.
    int rc = std::system(("rsvg-convert -o " + folder + "/tour.png " + svg + " 2>" + folder + "/err").c_str());
    ASSERT_EQ(0, rc) << "rsvg-convert (librsvg2-bin, installed by scripts/deps.sh) failed";
    EXPECT_EQ(std::make_pair(1180u, 678u), PngSize(folder + "/tour.png"));
    EXPECT_NE(std::string::npos, picture.find("width=\"1180\" height=\"678\""));
    struct Lane {
        const char* id;
        const char* name;
        const char* shows;  // one piece of it, as a pointer over it tells
    } lanes[] = {
        {"process", "start, close, sends", "send close at 24.98 s"},
        {"icon", "tray icon", "tray icon dark green square from 3.18 s to 4.68 s"},
        {"pin21", "pin 21", "pin 21 high from 3.28 s to 10.78 s"},
        {"pin38", "pin 38", "pin 38 high from 12.38 s to 13.88 s"},
        {"ac", "AC line", "AC line online from 6.28 s to 7.78 s"},
        {"profile", "profile in force", "profile GPS from 4.68 s to 12.18 s"},
        {"backlight", "backlight level", "backlight level 10 from 4.68 s to 7.68 s"},
        {"backlight-timeout", "backlight off after", "backlight off after never from 4.68 s to 12.18 s"},
        {"suspend-timeout", "suspend after", "suspend after 180 s from 1.68 s to 4.68 s"},
        {"events", "events set", "event PowerManager/ReloadActivityTimeouts at 1.68 s"},
        {"boxes", "message boxes", "box &quot;Shell_NotifyIcon Failure&quot; from 19.68 s to 19.88 s"},
        {"menus", "menus", "menu GPS On from 3.18 s to 3.18 s"},
    };
    for (const Lane& lane : lanes) {
        std::string png = folder + "/" + lane.id + ".png";
        rc = std::system(
            ("rsvg-convert --export-id=" + std::string(lane.id) + " -o " + png + " " + svg + " 2>>" + folder + "/err")
                .c_str());
        EXPECT_EQ(0, rc) << lane.id;
        EXPECT_EQ(30u, PngSize(png).second) << lane.id << ": a lane's band";
        std::size_t at = picture.find("<g id=\"" + std::string(lane.id) + "\">");
        std::string group = picture.substr(at, picture.find("</g>", at) - at);
        EXPECT_NE(std::string::npos, group.find(std::string(">") + lane.name + "</text>")) << lane.id;
        EXPECT_NE(std::string::npos, group.find(std::string("<title>") + lane.shows + "</title>")) << lane.id;
    }
    EXPECT_NE(std::string::npos, picture.find("fill=\"#006e00\"")) << "icon 130 in its colour";
    auto group = [&picture](const std::string& id) {
        std::size_t at = picture.find("<g id=\"" + id + "\">");
        return at == std::string::npos ? "" : picture.substr(at, picture.find("</g>", at) - at);
    };
    EXPECT_NE(std::string::npos, picture.find("<title>start at 24.98 s</title>")) << "the second process";
    EXPECT_NE(std::string::npos, picture.find("<title>close at 24.98 s</title>"));
    for (const char* pin : {"pin21", "pin38"})
        EXPECT_TRUE(group(pin).find(">high</text>") != std::string::npos &&
                    group(pin).find(">low</text>") != std::string::npos)
            << pin;
    EXPECT_NE(std::string::npos, group("time").find(">time (s)</text>"));
    EXPECT_EQ(std::string::npos, picture.find(" 0 s from ")) << "a time-out of 0 is never";
    // The legend keys every lane's colours and marks, the icons the scenario showed among them.
    std::string legend = group("legend");
    for (const char* key : {">start<", ">close (the process ends)<", ">another program's send or signal<",
                            ">130: dark green square<", ">battery<", ">online<", ">GPS<", ">standard<", ">never<",
                            ">event<", ">box shown until answered<", ">menu open until chosen<"})
        EXPECT_NE(std::string::npos, legend.find(key)) << key;
    EXPECT_EQ(0, std::system(("rsvg-convert --export-id=legend -o " + folder + "/legend.png " + svg).c_str()));
    pelorn_test::RemoveTree(folder);
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
    ASSERT_FALSE(r.records.empty());
    EXPECT_EQ(999999999999, r.records[0]["t"]) << r.records[0];
}

TEST(PlayTest, EachSendStepCarriesTheWindowsAnswerInBothOrdersAndInWords) {
    std::string folder = pelorn_test::MakeTempFolder("pelorn-answers");
    std::ofstream(folder + "/answers.play") << "absent COM1:\nstart\nsend hide\nsend reset\nok\nsend 0x0401\n";
    for (const char* order : {"--summary", "--as-returned", "-"}) {
        std::vector<std::string> args = {"play", order, folder + "/answers.play"};
        if (order[0] == '-' && !order[1]) args.erase(args.begin() + 1);
        pelorn_test::Ran r = pelorn_test::Handheld(".", args);
        ASSERT_EQ(0, r.exit) << r.err;
        if (order == std::string("--summary")) {
            for (const char* said : {"another program sends hide (answered 1: handled)",
                                     "another program sends reset (answered 0: failed)",
                                     "another program sends 0x0401 (answered 1: handled)"})
                EXPECT_TRUE(r.out.find(said) != std::string::npos) << said << "\n" << r.out;
            continue;
        }
        // The step record first, with the answer; the box the reset showed after it, inside its wait.
        std::vector<std::string> sends;
        long step = -1, box = -1, n = 0;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line); ++n) {
            nlohmann::json record = nlohmann::json::parse(line);
            if (record.contains("step") && record["step"].get<std::string>().rfind("send", 0) == 0)
                sends.push_back(record["step"].get<std::string>() + " " +
                                record.value("result", nlohmann::json()).dump());
            if (record.value("step", "") == "send reset") step = n;
            if (record.value("call", "") == "MessageBox") box = n;
        }
        EXPECT_EQ((std::vector<std::string>{"send hide 1", "send reset 0", "send 0x0401 1"}), sends) << order;
        EXPECT_LT(step, box) << order;
    }
    pelorn_test::RemoveTree(folder);
}

}  // namespace
