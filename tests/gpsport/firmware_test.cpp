#include "gpsport/firmware.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"
#include "platform/host/sim_receiver.h"
#include "res/host_resources.h"
#include "support/device_test.h"
#include "support/pty.h"

namespace {

const std::string kFallback = " 00.00.00.00";

std::string Sentence(const std::string& body) { return host::SimReceiver::Sentence(body); }

class FirmwareTest : public pelorn_test::DeviceTest {
protected:
    host::BootOptions Options() override {
        host::BootOptions o;
        o.resources = &PelornResources();
        return o;
    }
    void SetUp() override {
        DeviceTest::SetUp();
        device().serial().Map(1, pty.path());
        std::memset(text, 'Z', sizeof text);
    }

    host::Millis Now() { return device().clock().Now(); }
    std::vector<std::string> Messages() {
        std::vector<std::string> out;
        for (const auto& e : trace().Calls("MessageBox"))
            out.push_back(e.Str("lpText"));
        return out;
    }
    // The receiver says `bytes` at line pace while the query runs.
    BOOL Query(const std::string& bytes) {
        pty.Talk(bytes);
        return QueryFirmwareVersion(port, text);
    }
    // Only the read, on a port opened as the query opens it.
    BOOL Read(const std::string& bytes) {
        pty.Talk(bytes);
        EXPECT_TRUE(OpenGpsPort(port, u"COM1:"));
        return ReadNmeaSentence(port, text);
    }

    pelorn_test::Pty pty;
    HANDLE port = INVALID_HANDLE_VALUE;
    char text[FW_TEXT_SIZE];
};

TEST_F(FirmwareTest, TheQueryOpensTheReceiversPortAsTheReceiverTalksAndClosesIt) {
    const std::string first = Sentence("GPTXT,01,01,02,SW Version:2.3-rel-7");
    ASSERT_TRUE(Query("xy" + first + Sentence("GPGGA,,,,,,0,00,,,M,,M,,")));
    EXPECT_STREQ("2.3", text);
    EXPECT_EQ(INVALID_HANDLE_VALUE, port);
    EXPECT_FALSE(device().serial().IsOpen(1));
    EXPECT_TRUE(Messages().empty());

    auto create = trace().Calls("CreateFile").at(0);
    EXPECT_EQ("COM1:", create.Str("lpFileName"));
    EXPECT_EQ("0xC0000000", create.Str("dwDesiredAccess"));
    EXPECT_EQ("0x0", create.Str("dwShareMode"));
    EXPECT_EQ(OPEN_EXISTING, create.Num("dwCreationDisposition"));

    // 4800 8N1; of the flags only bits 15-31 of what was read survive, with 0x93 set.
    auto read = trace().Calls("GetCommState").at(0);
    auto set = trace().Calls("SetCommState").at(0);
    EXPECT_EQ(28, set.Num("DCBlength"));
    EXPECT_EQ(4800, set.Num("BaudRate"));
    EXPECT_EQ(8, set.Num("ByteSize"));
    EXPECT_EQ(0, set.Num("Parity"));
    EXPECT_EQ(0, set.Num("StopBits"));
    unsigned long was = std::stoul(read.Str("flags"), nullptr, 16);
    EXPECT_EQ((was & 0xFFFF8000u) | 0x93u, std::stoul(set.Str("flags"), nullptr, 16));
    auto timeouts = trace().Calls("SetCommTimeouts").at(0);
    EXPECT_EQ(0xFFFFFFFF, timeouts.Num("ReadIntervalTimeout"));
    EXPECT_EQ(0, timeouts.Num("ReadTotalTimeoutMultiplier"));
    EXPECT_EQ(0, timeouts.Num("ReadTotalTimeoutConstant"));
    EXPECT_EQ(10, timeouts.Num("WriteTotalTimeoutMultiplier"));
    EXPECT_EQ(1000, timeouts.Num("WriteTotalTimeoutConstant"));

    // The configuration in order, then the events: first the wide mask, then the narrower one.
    std::vector<std::string> order;
    for (const auto& e : trace().entries())
        if (order.empty() || order.back() != e.call) order.emplace_back(e.call);
    ASSERT_GE(order.size(), 9u);
    EXPECT_EQ(
        (std::vector<std::string>{"CreateFile", "GetCommState", "SetCommState", "GetCommTimeouts", "SetCommTimeouts",
                                  "EscapeCommFunction", "SetCommMask", "WaitCommEvent", "SetCommMask"}),
        std::vector<std::string>(order.begin(), order.begin() + 9));
    EXPECT_EQ("CloseHandle", order.back());
    auto escapes = trace().Calls("EscapeCommFunction");
    ASSERT_EQ(2u, escapes.size());
    EXPECT_EQ(CLRDTR, escapes[0].Num("dwFunc"));
    EXPECT_EQ(CLRRTS, escapes[1].Num("dwFunc"));
    auto masks = trace().Calls("SetCommMask");
    EXPECT_EQ("0x139", masks.at(0).Str("dwEvtMask"));
    EXPECT_EQ("0x119", masks.at(1).Str("dwEvtMask"));
    EXPECT_EQ(1u, trace().Calls("CloseHandle").size());
    EXPECT_FALSE(device().serial().Dtr(1));
}

TEST_F(FirmwareTest, TheReadKeepsNoiseAndOneWholeSentenceAndStopsAtTheNextDollar) {
    const std::string first = Sentence("GPTXT,01,01,02,SW Version:2.3-rel-7");
    ASSERT_TRUE(Read("xy" + first + "$GPGGA,1"));
    EXPECT_EQ("xy" + first, std::string(text));
    EXPECT_TRUE(ExtractFirmwareVersion(text));
    EXPECT_STREQ("2.3", text);
    CloseHandle(port);
}

TEST_F(FirmwareTest, VersionMarksInTheWrongOrderOrMissingGiveTheFallbackWithAMessage) {
    // A '-' without a ':' (a southern latitude written negative).
    ASSERT_TRUE(Query(Sentence("GPXTE,A,A,-0.67,L,N") + "$"));
    EXPECT_EQ(kFallback, text);
    EXPECT_EQ(std::vector<std::string>{"Wrong GPS firmware"}, Messages());

    // '-' before ':'.
    trace().Clear();
    ASSERT_TRUE(Query(Sentence("PSRFTXT,-Build:7") + "$"));
    EXPECT_EQ(kFallback, text);
    EXPECT_EQ(std::vector<std::string>{"Wrong GPS firmware"}, Messages());

    // ':' directly before '-' is an empty version, and no complaint.
    trace().Clear();
    ASSERT_TRUE(Query(Sentence("PSRFTXT,Version:-none") + "$"));
    EXPECT_STREQ("", text);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FirmwareTest, TwoHundredFiftyFiveBytesWithoutASecondDollarAreTheText) {
    // ':' and '-' both inside the first 255 bytes; another '-' beyond them would not count.
    std::string bytes = "$PSRFTXT," + std::string(40, 'a') + ":" + "4.1.2" + std::string(150, 'b');
    bytes += "-" + std::string(300 - bytes.size(), 'c');
    ASSERT_FALSE(Read(bytes));
    EXPECT_EQ(bytes.substr(0, 255), std::string(text));
    EXPECT_EQ('\0', text[255]);
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;

    ASSERT_TRUE(Query(bytes));
    EXPECT_EQ("4.1.2" + std::string(150, 'b'), std::string(text));

    // The '-' only after byte 255: the text searched ends before it.
    std::string late = "$PSRFTXT,Version:" + std::string(260, 'd') + "-9";
    trace().Clear();
    ASSERT_TRUE(Query(late));
    EXPECT_EQ(kFallback, text);
    EXPECT_EQ(std::vector<std::string>{"Wrong GPS firmware"}, Messages());
}

TEST_F(FirmwareTest, WithoutAPortTheFallbackIsRecordedSilently) {
    device().serial().Unmap(1);
    ASSERT_TRUE(QueryFirmwareVersion(port, text));
    EXPECT_EQ(kFallback, text);
    EXPECT_EQ(INVALID_HANDLE_VALUE, port);
    EXPECT_TRUE(Messages().empty());
    ASSERT_EQ(1u, trace().entries().size());
    EXPECT_EQ("CreateFile", trace().entries()[0].call);

    // A port that opens but cannot be set up is closed again, also silently.
    device().serial().Map(1, pty.path());
    trace().Clear();
    device().faults().FailNext("SetCommState", 1, ERROR_GEN_FAILURE);
    ASSERT_TRUE(QueryFirmwareVersion(port, text));
    EXPECT_EQ(kFallback, text);
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(trace().Calls("WaitCommEvent").empty());
    EXPECT_EQ(1u, trace().Calls("CloseHandle").size());
    EXPECT_FALSE(device().serial().IsOpen(1));
}

TEST_F(FirmwareTest, ASilentReceiverHoldsTheQueryForTwoSecondsAtMost) {
    host::Millis start = Now();
    ASSERT_TRUE(Query(""));
    host::Millis spent = Now() - start;
    EXPECT_GE(spent, 2000);
    EXPECT_LT(spent, 2000 + host::SerialPorts::kDefaultWaitLimit);
    EXPECT_EQ(kFallback, text);
    EXPECT_EQ(std::vector<std::string>{"Wrong GPS firmware"}, Messages());
    EXPECT_EQ(INVALID_HANDLE_VALUE, port);
    EXPECT_FALSE(device().serial().IsOpen(1));
}

TEST_F(FirmwareTest, AFailedWaitEndsTheReadAtOnce) {
    device().faults().FailNext("WaitCommEvent", 1, ERROR_GEN_FAILURE);
    ASSERT_FALSE(Read("$GPTXT,a:1-b*00\r\n$"));
    EXPECT_STREQ("", text);
    EXPECT_EQ(0, Now());
    EXPECT_EQ(1u, trace().Calls("WaitCommEvent").size());
    CloseHandle(port);
}

// Quiet and trickle limits need exact arrival times: the simulated receiver, with a script.
class FirmwareTimingTest : public FirmwareTest {
protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        device().serial().Map(1, "sim");
        device().gpio().DrivePin38(true);
        device().serial().receiver().SetNmeaOutput(false);
    }
};

TEST_F(FirmwareTimingTest, AReceiverThatFallsQuietIsLeftTwoSecondsAfterItsLastByte) {
    device().serial().receiver().Send(300, "$GPTXT,1:2");  // last byte at 300 + 10 * 2.083 ms
    ASSERT_TRUE(OpenGpsPort(port, u"COM1:"));
    ASSERT_FALSE(ReadNmeaSentence(port, text));
    EXPECT_STREQ("$GPTXT,1:2", text);
    EXPECT_GE(Now(), 320 + 2000);
    EXPECT_LT(Now(), 320 + 2000 + host::SerialPorts::kDefaultWaitLimit);
    CloseHandle(port);
}

TEST_F(FirmwareTimingTest, AReceiverThatTricklesIsLeftFiveSecondsAfterTheReadBegan) {
    device().serial().receiver().Send(0, "$GPTXT,slow", 1'500'000);  // a byte each 1.5 s
    ASSERT_TRUE(OpenGpsPort(port, u"COM1:"));
    ASSERT_FALSE(ReadNmeaSentence(port, text));
    EXPECT_STREQ("$GP", text);
    EXPECT_EQ(5000, Now());
    CloseHandle(port);
}

TEST_F(FirmwareTimingTest, AFailedCloseKeepsTheHandleAndReportsFalse) {
    device().serial().receiver().Send(0, Sentence("PSRFTXT,V:1-x") + "$");
    device().faults().FailNext("CloseHandle", 1, ERROR_GEN_FAILURE);
    EXPECT_FALSE(QueryFirmwareVersion(port, text));
    EXPECT_STREQ("1", text);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    EXPECT_TRUE(device().serial().IsOpen(1));
    EXPECT_TRUE(CloseHandle(port));
}

TEST_F(FirmwareTimingTest, OnAFreshHandheldTheQueryCatchesTheBuiltInReceiversBanner) {
    device().serial().receiver().SetNmeaOutput(true);
    Sleep(100);  // as start-up does before the query
    ASSERT_TRUE(QueryFirmwareVersion(port, text));
    std::string banner = host::SimReceiver::Banner();
    std::size_t colon = banner.find(':');
    EXPECT_EQ(banner.substr(colon + 1, banner.find('-') - colon - 1), text);
    EXPECT_TRUE(Messages().empty());
}

}  // namespace
