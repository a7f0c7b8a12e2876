#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpsport/gps_port.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"
#include "platform/host/trace.h"
#include "res/host_resources.h"
#include "support/device_test.h"
#include "support/pty.h"

namespace {

const std::string kSentence = "$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\r\n";

class ResetTest : public pelorn_test::DeviceTest {
protected:
    host::BootOptions Options() override {
        host::BootOptions o;
        o.resources = &PelornResources();
        return o;
    }
    void SetUp() override {
        DeviceTest::SetUp();
        device().serial().Map(1, pty.path());
    }
    host::TraceEntry Only(const char* call) {
        auto calls = trace().Calls(call);
        EXPECT_EQ(1u, calls.size()) << call;
        return calls.empty() ? host::TraceEntry{} : calls[0];
    }

    pelorn_test::Pty pty;
};

TEST_F(ResetTest, TheSentenceGoesOutOnceBetweenTheWaitsAndThePortIsClosed) {
    EXPECT_EQ(1, ResetGpsReceiver());

    EXPECT_EQ(kSentence, pty.Heard(kSentence.size()));
    EXPECT_EQ(kSentence, pty.Heard(kSentence.size() + 1, std::chrono::milliseconds(50)));  // and nothing more
    auto write = Only("WriteFile");
    EXPECT_EQ(61, write.Num("nNumberOfBytesToWrite"));
    EXPECT_EQ("0", write.Raw("lpOverlapped"));

    // Configured as asked: 4800 8N1 with parity checking on, then the time-outs, DTR and RTS low.
    auto state = Only("SetCommState");
    EXPECT_EQ(4800, state.Num("BaudRate"));
    EXPECT_EQ(8, state.Num("ByteSize"));
    EXPECT_EQ(0, state.Num("Parity"));
    EXPECT_EQ(0, state.Num("StopBits"));
    unsigned long was = std::stoul(Only("GetCommState").Str("flags"), nullptr, 16);
    EXPECT_EQ((was & 0xFFFF8091u) | 0x93u, std::stoul(state.Str("flags"), nullptr, 16));
    auto timeouts = Only("SetCommTimeouts");
    EXPECT_EQ(250, timeouts.Num("ReadIntervalTimeout"));
    EXPECT_EQ(100, timeouts.Num("ReadTotalTimeoutMultiplier"));
    EXPECT_EQ(10, timeouts.Num("ReadTotalTimeoutConstant"));
    EXPECT_EQ(0, timeouts.Num("WriteTotalTimeoutMultiplier"));
    EXPECT_EQ(0, timeouts.Num("WriteTotalTimeoutConstant"));
    auto escapes = trace().Calls("EscapeCommFunction");
    ASSERT_EQ(2u, escapes.size());
    EXPECT_EQ(CLRDTR, escapes[0].Num("dwFunc"));
    EXPECT_EQ(CLRRTS, escapes[1].Num("dwFunc"));

    // 100 ms after the configuration the bytes go out; 5000 ms later the port closes.
    EXPECT_EQ(escapes[1].t + 100, write.t);
    auto close = Only("CloseHandle");
    EXPECT_EQ(write.t + 5000, close.t);
    EXPECT_EQ(close.t, device().clock().Now());
    ASSERT_EQ(1u, device().serial().Writes(1).size());
    EXPECT_EQ(write.t, device().serial().Writes(1)[0].t);
    EXPECT_FALSE(device().serial().IsOpen(1));
    EXPECT_TRUE(trace().Calls("MessageBox").empty());
}

TEST_F(ResetTest, WithoutThePortOneGermanMessageAndNothingElse) {
    device().serial().Unmap(1);
    EXPECT_EQ(0, ResetGpsReceiver());
    auto box = Only("MessageBox");
    EXPECT_EQ(
        "Fehler beim \xC3\x96"
        "ffnen des COM Ports",
        box.Str("lpText"));
    EXPECT_EQ("\"0x0\"", box.Raw("uType"));
    EXPECT_TRUE(trace().Calls("Sleep").empty());
    EXPECT_EQ(0, device().clock().Now());
}

// A failing port call: what the user sees and what reaches the line.
struct PortFault {
    const char* call;
    const char* text;  // null: no message
    const char* caption;
    bool written;
};

class ResetFaultTest : public ResetTest, public ::testing::WithParamInterface<PortFault> {};

TEST_P(ResetFaultTest, ShowsItsMessageWithoutOwnerClosesOnceAndStillWaits) {
    const PortFault& f = GetParam();
    device().faults().FailNext(f.call, 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(1, ResetGpsReceiver());

    auto boxes = trace().Calls("MessageBox");
    if (f.text) {
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(f.text, boxes[0].Str("lpText"));
        EXPECT_EQ(f.caption, boxes[0].Str("lpCaption"));
        EXPECT_EQ("\"0x10\"", boxes[0].Raw("uType"));
        EXPECT_EQ("0", boxes[0].Raw("hWnd"));
    } else {
        EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(1u, trace().Calls("CloseHandle").size());
    EXPECT_FALSE(device().serial().IsOpen(1));
    if (f.written) {
        EXPECT_EQ(kSentence, pty.Heard(kSentence.size()));
        EXPECT_EQ(Only("WriteFile").t + 5000, Only("CloseHandle").t);
        EXPECT_TRUE(trace().Calls("EscapeCommFunction").empty());  // the time-outs were never set
    } else {
        EXPECT_TRUE(trace().Calls("WriteFile").empty());
        EXPECT_EQ("", pty.Heard(0, std::chrono::milliseconds(50)));
    }
    // The handler runs through both waits once the port has opened.
    std::vector<std::int64_t> sleeps;
    for (const auto& e : trace().Calls("Sleep"))
        sleeps.push_back(e.Num("dwMilliseconds"));
    EXPECT_EQ((std::vector<std::int64_t>{100, 5000}), sleeps);
}

INSTANTIATE_TEST_SUITE_P(Reset, ResetFaultTest,
                         ::testing::Values(PortFault{"GetCommState", "GetCommState Error", "Error", false},
                                           PortFault{"SetCommState", "SetCommState Error", "Error", false},
                                           PortFault{"GetCommTimeouts", nullptr, nullptr, true},
                                           PortFault{"SetCommTimeouts", "StCommTimeouts function failed",
                                                     "Com Port Error", false}),
                         [](const ::testing::TestParamInfo<PortFault>& info) { return std::string(info.param.call); });

}  // namespace

namespace {

// The configuration fails and closes the port: the time-outs are not asked of the closed port,
// and only the two waits follow.
class ClosedByConfigureTest : public ResetTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ClosedByConfigureTest, NothingButTheTwoWaitsFollowTheClose) {
    device().faults().FailNext(GetParam(), 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(1, ResetGpsReceiver());
    std::vector<std::string> after;
    bool closed = false;
    for (const auto& e : trace().entries()) {
        if (closed) after.push_back(std::string(e.call) + " " + e.Raw("dwMilliseconds"));
        closed = closed || e.call == "CloseHandle";
    }
    EXPECT_EQ((std::vector<std::string>{"Sleep 100", "Sleep 5000"}), after);
}

INSTANTIATE_TEST_SUITE_P(Reset, ClosedByConfigureTest, ::testing::Values("GetCommState", "SetCommState"));

}  // namespace
