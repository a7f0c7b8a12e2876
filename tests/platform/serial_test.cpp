#include "platform/host/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/sim_receiver.h"
#include "support/device_test.h"
#include "support/pty.h"

namespace {

using host::LineChange;
using host::ModemLine;

class SerialTest : public pelorn_test::DeviceTest {
protected:
    host::SerialPorts& ports() { return device().serial(); }
    host::SimReceiver& receiver() { return ports().receiver(); }
    host::Millis Now() { return device().clock().Now(); }

    HANDLE Open(const char16_t* name = u"COM1:") {
        return CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    // The receiver says only what the test scripts.
    void QuietReceiver() {
        device().gpio().DrivePin38(true);
        receiver().SetNmeaOutput(false);
    }
    void SetTimeouts(HANDLE h, DWORD interval, DWORD multiplier, DWORD constant) {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(h, &t));
    }
    std::string ReadNow(HANDLE h, DWORD size = 512) {
        std::string buf(size, '\0');
        DWORD n = 0;
        EXPECT_TRUE(ReadFile(h, buf.data(), size, &n, nullptr));
        buf.resize(n);
        return buf;
    }
    // Waits for input and reads it until `want` bytes came or a wait reports nothing.
    std::string Receive(HANDLE h, std::size_t want) {
        std::string got;
        SetCommMask(h, EV_RXCHAR);
        SetTimeouts(h, MAXDWORD, 0, 0);
        while (got.size() < want) {
            DWORD ev = 0;
            if (!WaitCommEvent(h, &ev, nullptr) || !(ev & EV_RXCHAR)) break;
            got += ReadNow(h);
        }
        return got;
    }
};

bool ChecksumValid(const std::string& sentence) {
    std::size_t star = sentence.find('*');
    if (sentence.empty() || sentence[0] != '$' || star == std::string::npos || star + 3 > sentence.size()) return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(sentence[i]);
    return std::stoul(sentence.substr(star + 1, 2), nullptr, 16) == sum;
}

TEST_F(SerialTest, PortsExistWhereTheRegistryMapsThemAndOneUserAtATime) {
    // A device whose ports were never mapped has the simulated receiver on COM1 and nothing else;
    // the registry stays as a new device's until somebody maps a port.
    EXPECT_EQ("sim", ports().Mapping(1));
    EXPECT_EQ("", ports().Mapping(2));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Software\\Handheld\\Ports", 0, 0, &key));

    pelorn_test::Pty pty;
    ports().Map(2, pty.path());
    ports().Map(3, "/dev/null");  // exists, but is no terminal
    ports().Map(4, "/nonexistent/ttyUSB9");
    trace().Clear();
    device().faults().FailNext("RegOpenKeyEx", 1, ERROR_GEN_FAILURE);

    for (const char16_t* absent : {u"COM3:", u"COM4:", u"COM5:"}) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open(absent));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    }
    HANDLE h = Open(u"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(ports().IsOpen(2));
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(u"COM2:"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(ports().IsOpen(2));
    h = Open(u"COM2:");
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);

    // The device's own reads of its mapping neither show in the trace nor use up injected faults.
    for (const auto& e : trace().entries())
        EXPECT_TRUE(e.call == "CreateFile" || e.call == "CloseHandle") << e.Json();
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key));

    ports().Unmap(1);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open());
    EXPECT_EQ("", ports().Mapping(1));
    ports().Map(6, "/dev/serial/by-id/usb-GPS_M\xC3\xBCller-if00");
    EXPECT_EQ("/dev/serial/by-id/usb-GPS_M\xC3\xBCller-if00", ports().Mapping(6));
}

TEST_F(SerialTest, CommStateIsKeptAsGivenAndReachesTheTerminal) {
    pelorn_test::Pty pty;
    ports().Map(1, pty.path());
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    DCB dcb{};
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(28u, dcb.DCBlength);
    dcb.BaudRate = 4800;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fDummy2 = 0x1ABCD;
    dcb.XonLim = 1234;
    ASSERT_TRUE(SetCommState(h, &dcb));
    DCB back{};
    ASSERT_TRUE(GetCommState(h, &back));
    EXPECT_EQ(0, std::memcmp(&dcb, &back, sizeof dcb));

    int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(0, tcgetattr(fd, &t));
    ::close(fd);
    EXPECT_EQ(static_cast<speed_t>(B4800), cfgetospeed(&t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);  // size and parity: a pseudo-terminal keeps 8 bits, no parity
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    auto set = trace().Calls("SetCommState").back();
    EXPECT_EQ(4800, set.Num("BaudRate"));
    EXPECT_EQ(7, set.Num("ByteSize"));
    EXPECT_EQ(2, set.Num("Parity"));
    EXPECT_EQ(2, set.Num("StopBits"));

    // Settings the line cannot take fail and change nothing.
    for (int which = 0; which < 3; ++which) {
        DCB wrong = dcb;
        if (which == 0) wrong.ByteSize = 9;
        if (which == 1) wrong.Parity = 5;
        if (which == 2) wrong.BaudRate = 12345;
        SetLastError(0);
        EXPECT_FALSE(SetCommState(h, &wrong));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
    ASSERT_TRUE(GetCommState(h, &back));
    EXPECT_EQ(0, std::memcmp(&dcb, &back, sizeof dcb));

    // An injected failure leaves the caller's record as it was, once.
    device().faults().FailNext("GetCommState", 1, ERROR_GEN_FAILURE);
    device().faults().FailNext("GetCommTimeouts", 1, ERROR_IO_DEVICE);
    DCB sentinel;
    std::memset(&sentinel, 0xA5, sizeof sentinel);
    DCB probe = sentinel;
    EXPECT_FALSE(GetCommState(h, &probe));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ(0, std::memcmp(&sentinel, &probe, sizeof probe));
    COMMTIMEOUTS to{1, 2, 3, 4, 5};
    EXPECT_FALSE(GetCommTimeouts(h, &to));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), GetLastError());
    EXPECT_EQ(3u, to.ReadTotalTimeoutConstant);
    EXPECT_TRUE(GetCommState(h, &probe));
    EXPECT_TRUE(GetCommTimeouts(h, &to));

    CloseHandle(h);
    SetLastError(0);
    EXPECT_FALSE(GetCommState(h, &probe));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(EscapeCommFunction(h, CLRDTR));
    EXPECT_FALSE(SetCommMask(h, EV_RXCHAR));
}

TEST_F(SerialTest, LinesFollowTheStateAndEscapesAndAPseudoTerminalHasNoSignals) {
    pelorn_test::Pty pty;
    ports().Map(1, pty.path());
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(ports().Dtr(1));
    EXPECT_TRUE(ports().Rts(1));

    DCB dcb{};
    GetCommState(h, &dcb);
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    ASSERT_TRUE(SetCommState(h, &dcb));
    Sleep(10);
    EXPECT_TRUE(EscapeCommFunction(h, CLRDTR));
    EXPECT_TRUE(EscapeCommFunction(h, CLRRTS));  // already low: no change
    Sleep(10);
    EXPECT_TRUE(EscapeCommFunction(h, SETRTS));
    EXPECT_FALSE(EscapeCommFunction(h, 99));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    DWORD status = 0xFFFF;
    EXPECT_TRUE(GetCommModemStatus(h, &status));
    EXPECT_EQ(0u, status);
    EXPECT_TRUE(CloseHandle(h));

    auto changes = ports().LineChanges(1);
    std::vector<std::tuple<host::Millis, ModemLine, bool>> seen;
    for (const LineChange& c : changes)
        seen.emplace_back(c.t, c.line, c.on);
    EXPECT_EQ((std::vector<std::tuple<host::Millis, ModemLine, bool>>{{0, ModemLine::kDtr, true},
                                                                      {0, ModemLine::kRts, true},
                                                                      {0, ModemLine::kRts, false},
                                                                      {10, ModemLine::kDtr, false},
                                                                      {20, ModemLine::kRts, true},
                                                                      {20, ModemLine::kRts, false}}),
              seen);
}

TEST_F(SerialTest, ReadsFollowTheWin32TimeoutRules) {
    QuietReceiver();
    receiver().Send(100, "AB");
    receiver().Send(1000, "C");
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    // MAXDWORD, 0, 0: at once, with whatever has arrived.
    SetTimeouts(h, MAXDWORD, 0, 0);
    EXPECT_EQ("", ReadNow(h, 10));
    EXPECT_EQ(0, Now());
    Sleep(103);  // 'A' is in (100 ms + one byte time), 'B' is not
    EXPECT_EQ("A", ReadNow(h, 10));

    // 250, 100, 10: 'B' comes, then the line is quiet for the interval.
    SetTimeouts(h, 250, 100, 10);
    EXPECT_EQ("B", ReadNow(h, 10));
    EXPECT_EQ(104 + 250, Now());

    // No interval, total 100 * 2 + 10 on a quiet line: nothing, 210 ms later.
    SetTimeouts(h, 0, 100, 10);
    EXPECT_EQ("", ReadNow(h, 2));
    EXPECT_EQ(354 + 210, Now());

    // MAXDWORD, MAXDWORD, c: waits up to c for a first byte and returns with it.
    SetTimeouts(h, MAXDWORD, MAXDWORD, 1000);
    EXPECT_EQ("C", ReadNow(h, 10));
    EXPECT_EQ(1002, Now());
    CloseHandle(h);

    EXPECT_EQ("43", trace().Calls("ReadFile").back().Str("data"));  // what was read, as hex
}

TEST_F(SerialTest, WaitEndsOnAMaskedEventOrEmptyAtTheWaitLimit) {
    QuietReceiver();
    receiver().Send(10, "X");
    receiver().Send(1400, "Y");
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD ev = 0xFF;
    SetLastError(0);
    EXPECT_FALSE(WaitCommEvent(h, &ev, nullptr));  // no mask, nothing to wait for
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    // 'X' arrived before the mask was set: not an event, though it is there to read.
    Sleep(50);
    ASSERT_TRUE(SetCommMask(h, EV_RXCHAR | EV_CTS));
    ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(0u, ev);
    EXPECT_EQ(50 + host::SerialPorts::kDefaultWaitLimit, Now());
    SetTimeouts(h, MAXDWORD, 0, 0);
    EXPECT_EQ("X", ReadNow(h));

    ports().SetWaitLimit(5000);
    ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), ev);
    EXPECT_EQ(1402, Now());

    // A mask without EV_RXCHAR does not wake for bytes.
    receiver().Send(1500, "Z");
    ASSERT_TRUE(SetCommMask(h, EV_CTS | EV_DSR));
    ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(0u, ev);
    EXPECT_EQ(6402, Now());
    CloseHandle(h);

    auto waits = trace().Calls("WaitCommEvent");
    ASSERT_EQ(4u, waits.size());
    EXPECT_EQ("0x1", waits[2].Str("EvtMask"));
    EXPECT_EQ("0x0", waits[3].Str("EvtMask"));
    EXPECT_EQ("0x9", trace().Calls("SetCommMask")[0].Str("dwEvtMask"));
}

TEST_F(SerialTest, TheSimulatedReceiverTalksOnceASecondWhilePin38IsHigh) {
    device().gpio().DrivePin38(true);
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SetCommMask(h, EV_RXCHAR);
    SetTimeouts(h, MAXDWORD, 0, 0);

    // Byte by byte with the time each arrived.
    struct Arrival {
        host::Millis t;
        char c;
    };
    std::vector<Arrival> got;
    auto listen = [&](host::Millis until) {
        ports().SetWaitLimit(100);
        while (Now() < until) {
            DWORD ev = 0;
            ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
            for (char c : ReadNow(h))
                got.push_back({Now(), c});
        }
    };
    listen(2999);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(1002, got.front().t);  // a second after power-on, one byte time
    std::string text;
    for (const auto& a : got)
        text += a.c;
    text.erase(text.rfind("\r\n") + 2);  // the third burst may have begun
    std::string banner = text.substr(0, text.find("\r\n") + 2);
    EXPECT_EQ(0u, banner.rfind("$PSRF", 0)) << banner;
    EXPECT_LT(banner.find(':'), banner.find('-'));

    // Every sentence checks out, and the bytes come at 4800 baud: 2.083 ms each.
    std::size_t start = 0, sentences = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        ASSERT_NE(std::string::npos, end);
        EXPECT_TRUE(ChecksumValid(text.substr(start, end - start))) << text.substr(start, end - start);
        start = end + 2;
        ++sentences;
    }
    EXPECT_GE(sentences, 8u);
    std::size_t second_burst = 0;
    while (got[second_burst].t < 2000)
        ++second_burst;
    EXPECT_EQ(2002, got[second_burst].t);
    EXPECT_EQ(1000 + static_cast<host::Millis>(second_burst * 2083 / 1000), got[second_burst - 1].t);
    EXPECT_EQ(std::string::npos, text.find("$PSRF", banner.size()));  // the banner only after power-on

    // Powered off it is silent; powered again it starts over with the banner.
    device().gpio().DrivePin38(false);
    got.clear();
    listen(6000);
    EXPECT_TRUE(got.empty());
    device().gpio().DrivePin38(true);
    host::Millis on = Now();
    listen(on + 2000);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(on + 1002, got.front().t);
    std::string again;
    for (const auto& a : got)
        again += a.c;
    EXPECT_EQ(0u, again.rfind(banner, 0));
    CloseHandle(h);
}

TEST_F(SerialTest, APseudoTerminalCarriesBytesBothWaysAndAQuietOneEndsWaitsAtTheLimit) {
    pelorn_test::Pty pty;
    ports().Map(1, pty.path());
    HANDLE h = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    const std::string said = "$GPTXT,01,01,02,hello*00\r\n";
    pty.Talk(said);
    EXPECT_EQ(said, Receive(h, said.size()));

    const std::string sent = "PING\r\n";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, sent.data(), static_cast<DWORD>(sent.size()), &written, nullptr));
    EXPECT_EQ(sent.size(), written);
    EXPECT_EQ(sent, pty.Heard(sent.size()));
    EXPECT_EQ(sent, ports().Written(1));
    EXPECT_EQ("50494e470d0a", trace().Calls("WriteFile").back().Str("lpBuffer"));

    host::Millis before = Now();
    DWORD ev = 0xFF;
    ASSERT_TRUE(WaitCommEvent(h, &ev, nullptr));
    EXPECT_EQ(0u, ev);
    EXPECT_EQ(before + host::SerialPorts::kDefaultWaitLimit, Now());
    CloseHandle(h);
}

}  // namespace
