// `handheld receiver`: a recorded log played on a pseudo-terminal to `pelorn` running on the
// device, each a process of its own as a person would start them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <sstream>
#include <string>
#include <thread>

#include "support/device_test.h"
#include "support/nmea_logs.h"
#include "support/pty.h"
#include "tools/cli_support.h"

namespace {

using pelorn_test::Handheld;

// Waits up to 10 s for `done` to hold.
template <class Check>
bool Within10s(Check done) {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

TEST(ReceiverTest, ALoggedReceiverGivesTheFirstRunItsVersionAndHearsTheReset) {
    if (!pelorn_test::HaveNmeaLogs()) GTEST_SKIP() << pelorn_test::kNoNmeaLogs;
    std::string root = pelorn_test::MakeTempFolder("pelorn-receiver"), device = root + "/device";
    pelorn_test::HandheldProcess receiver(device, {"receiver", pelorn_test::NmeaLogFolder() + "/sl869.log"},
                                          root + "/heard");
    ASSERT_TRUE(Within10s([&] { return Handheld(device, {"ports"}).out.rfind("COM1 /dev/pts/", 0) == 0; }))
        << receiver.Errors();
    EXPECT_NE(std::string::npos, receiver.Errors().find("sl869.log plays at 4800 baud")) << receiver.Errors();
    {
        pelorn_test::PelornProcess pelorn(device);
        // The log's banner, from its first sentence: "$GPTXT,TELIT SW Version: SL869 v3.1.2.1 -STD -N96".
        const char kQuery[] = "HKLM\\SOFTWARE\\Apps\\Tavro SW";
        ASSERT_TRUE(Within10s([&] {
            return Handheld(device, {"reg", "query", kQuery, "/v", "FW"}).out.find("REG_SZ     SL869 v3.1.2.1 \n") !=
                   std::string::npos;
        })) << Handheld(device, {"reg", "query", kQuery}).out
            << pelorn.Output();
        EXPECT_EQ("", receiver.Output()) << "the firmware query writes nothing";

        EXPECT_EQ(0, Handheld(device, {"send", "reset"}).exit);
        const std::string kReset = "$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\r\n";
        EXPECT_TRUE(Within10s([&] { return receiver.Output().size() >= kReset.size(); }));
        EXPECT_EQ(kReset, receiver.Output()) << "61 bytes";
    }
    // Interrupted, it says what it fed and gives COM1 back as it found it.
    EXPECT_EQ(0, receiver.Stop()) << receiver.Errors();
    EXPECT_NE(std::string::npos, receiver.Errors().find("handheld receiver: fed ")) << receiver.Errors();
    EXPECT_EQ(std::string::npos, receiver.Errors().find("fed 0 bytes")) << receiver.Errors();
    EXPECT_EQ("COM1 sim\n", Handheld(device, {"ports"}).out);
    pelorn_test::RemoveTree(root);
}

// Seconds of processor time process `pid` has used.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) user = std::stoull(field);
        if (i == 15) system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(ReceiverTest, AKilledReceiversTerminalIsNeverTheDevicesAndAVanishedLineCostsNothing) {
    std::string root = pelorn_test::MakeTempFolder("pelorn-receiver-killed"), device = root + "/device";
    // A trickle without an end of sentence: the first run's firmware read lasts its longest.
    std::ofstream(root + "/trickle.log") << "$PSRFTXT," << std::string(400, 'x') << "\n";
    pelorn_test::HandheldProcess receiver(device, {"receiver", root + "/trickle.log", "--pace", "50"}, root + "/heard");
    ASSERT_TRUE(Within10s([&] { return Handheld(device, {"ports"}).out.rfind("COM1 /dev/pts/", 0) == 0; }))
        << receiver.Errors();
    std::string ports = Handheld(device, {"ports"}).out;
    std::string pts = ports.substr(5, ports.find(' ', 5) - 5);
    EXPECT_EQ("COM1 " + pts + " (while process " + std::to_string(receiver.pid()) + " runs)\n", ports);
    pid_t dead = receiver.pid();
    {
        pelorn_test::PelornProcess pelorn(device);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));  // into the read
        receiver.Kill();
        // The line hung up mid-read: waited on, not polled.
        double before = CpuSeconds(pelorn.pid());
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_LT(CpuSeconds(pelorn.pid()) - before, 0.2) << "pelorn spins on a hung-up line";
    }
    // The next program to get the dead receiver's terminal, free once pelorn has closed it, hears
    // nothing of the device.
    std::list<pelorn_test::Pty> held;
    while (held.size() < 64 && (held.empty() || held.back().path() != pts))
        held.emplace_back();
    ASSERT_EQ(pts, held.back().path()) << "another program took the terminal first";
    EXPECT_EQ("COM1 none (process " + std::to_string(dead) + ", which kept its terminal, has ended)\n",
              Handheld(device, {"ports"}).out);
    pelorn_test::PelornProcess pelorn(device);
    auto up = [](const std::string& s) {
        return s.find("\"running\":true") != std::string::npos && pelorn_test::JsonNumber(s, "window");
    };
    ASSERT_TRUE(pelorn_test::StatusWhen(device, up, std::chrono::seconds(10))) << pelorn.Output();
    pelorn_test::Ran reset = Handheld(device, {"send", "reset"});
    EXPECT_EQ(1, reset.exit);
    EXPECT_NE(std::string::npos, (reset.out + reset.err).find("could not open COM1:")) << reset.out << reset.err;
    EXPECT_EQ("", held.back().Heard(1, std::chrono::milliseconds(500)));
    pelorn_test::RemoveTree(root);
}

}  // namespace
