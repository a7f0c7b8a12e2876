// `handheld receiver`: a recorded log played on a pseudo-terminal to `pelorn` running on the
// device, each a process of its own as a person would start them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/device_test.h"
#include "support/nmea_logs.h"
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
    // Interrupted, it gives COM1 back as it found it.
    EXPECT_EQ(0, receiver.Stop()) << receiver.Errors();
    EXPECT_EQ("COM1 sim\n", Handheld(device, {"ports"}).out);
    pelorn_test::RemoveTree(root);
}

}  // namespace
