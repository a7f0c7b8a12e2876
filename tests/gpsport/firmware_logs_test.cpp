// Real receivers' output, replayed through a pseudo-terminal from several starting points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gpsport/firmware.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"
#include "res/host_resources.h"
#include "support/device_test.h"
#include "support/nmea_logs.h"
#include "support/pty.h"

namespace {

using pelorn_test::NmeaLogFolder;

// What a replay puts on the line: the recorder's comment lines dropped, every line ended CR LF.
std::string Replay(const std::string& file) {
    std::ifstream in(NmeaLogFolder() + "/" + file, std::ios::binary);
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') continue;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out << line << "\r\n";
    }
    return out.str();
}

// The version the first-run rule gives for a line that says `bytes` from the start of reading.
std::string VersionFor(const std::string& bytes, bool* complained) {
    std::size_t first = bytes.find('$');
    std::size_t second = first == std::string::npos ? std::string::npos : bytes.find('$', first + 1);
    std::string kept = bytes.substr(0, std::min<std::size_t>(std::min<std::size_t>(second, 255), bytes.size()));
    kept = kept.substr(0, kept.find('\0'));  // the text is a C string
    std::size_t colon = kept.find(':'), dash = kept.find('-');
    *complained = colon == std::string::npos || dash == std::string::npos || dash < colon;
    return *complained ? " 00.00.00.00" : kept.substr(colon + 1, dash - colon - 1);
}

struct LogCase {
    const char* file;
    std::vector<double> starts;           // fractions of the replay
    std::vector<std::size_t> bytes = {};  // and byte offsets
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.file; }

class FirmwareLogTest : public pelorn_test::DeviceTest, public ::testing::WithParamInterface<LogCase> {
protected:
    host::BootOptions Options() override {
        host::BootOptions o;
        o.resources = &PelornResources();
        return o;
    }
};

TEST(NmeaLogs, AreWhereTheSuiteLooks) {
    EXPECT_TRUE(pelorn_test::HaveNmeaLogs())
        << "no receiver logs at " << NmeaLogFolder()
        << ": set PELORN_NMEA_LOGS to the folder that holds them; the tests that replay them skip meanwhile";
}

TEST_P(FirmwareLogTest, TheVersionRecordedIsWhatTheRuleGivesForTheBytesReceived) {
    if (!pelorn_test::HaveNmeaLogs()) GTEST_SKIP() << pelorn_test::kNoNmeaLogs;
    const std::string replay = Replay(GetParam().file);
    ASSERT_GT(replay.size(), 1000u) << "no log at " << NmeaLogFolder() << "/" << GetParam().file;
    pelorn_test::Pty pty;
    device().serial().Map(1, pty.path());

    std::vector<std::size_t> offsets;
    for (double f : GetParam().starts)
        offsets.push_back(static_cast<std::size_t>(f * static_cast<double>(replay.size())));
    offsets.insert(offsets.end(), GetParam().bytes.begin(), GetParam().bytes.end());

    for (std::size_t offset : offsets) {
        SCOPED_TRACE("from byte " + std::to_string(offset));
        const std::string said = replay.substr(offset);
        bool complained = false;
        const std::string expected = VersionFor(said, &complained);

        trace().Clear();
        pty.Talk(said);
        HANDLE port = INVALID_HANDLE_VALUE;
        char text[FW_TEXT_SIZE];
        ASSERT_TRUE(QueryFirmwareVersion(port, text));
        pty.Hush();
        EXPECT_EQ(expected, std::string(text));
        EXPECT_EQ(complained ? 1u : 0u, trace().Calls("MessageBox").size());
    }
}

// sl869 opens with a version banner: from byte 1 the banner's tail is noise before the next
// sentence, from byte 30 the noise holds a '-' but no ':'.
INSTANTIATE_TEST_SUITE_P(
    Receivers, FirmwareLogTest,
    ::testing::Values(LogCase{"sl869.log", {0.0, 0.5}, {1, 30}}, LogCase{"blumax-gps009.log", {0.0, 0.37, 0.71}},
                      LogCase{"bu303-nofix.log", {0.0, 0.5}}, LogCase{"sirfstarv-nmea.log", {0.0, 0.13, 0.66}},
                      LogCase{"bu353s4.log", {0.0, 0.42}}, LogCase{"beidou-bd.log", {0.0, 0.3, 0.8}},
                      LogCase{"mtk-3329.log", {0.0, 0.5}}, LogCase{"nd-1005.log", {0.21, 0.6}},
                      LogCase{"haicom-305N.log", {0.05, 0.9}}, LogCase{"bt451.log", {0.0, 0.33}},
                      LogCase{"tn200.log", {0.17}}, LogCase{"holux-gm-210.log", {0.0, 0.55}},
                      LogCase{"gpslim236.log", {0.44}}, LogCase{"triton400.log", {0.0, 0.61}}),
    [](const ::testing::TestParamInfo<LogCase>& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

}  // namespace
