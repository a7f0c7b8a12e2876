// `handheld simulate`: days from seeds are reproducible, and every scenario the simulation once
// failed on (tests/scenarios/simulation, shrunk) now keeps every invariant.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "handheld/simulate/day_process.h"
#include "handheld/simulate/simulate.h"

namespace {

std::vector<std::string> Lines(const std::string& file) {
    std::string here = __FILE__;
    std::ifstream in(here.substr(0, here.rfind("/tests/tools/")) + "/tests/scenarios/simulation/" + file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class FoundBySimulationTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FoundBySimulationTest, KeepsEveryInvariant) {
    std::vector<std::string> lines = Lines(GetParam());
    ASSERT_FALSE(lines.empty()) << GetParam();
    handheld::DayResult r = handheld::CheckScript(lines);
    EXPECT_FALSE(r.script_error) << *r.script_error;
    EXPECT_FALSE(r.violation) << "step " << r.violation->step << ": " << r.violation->invariant << ": "
                              << r.violation->detail;
    EXPECT_GT(r.ticks, 0);
}

INSTANTIATE_TEST_SUITE_P(Regressions, FoundBySimulationTest,
                         ::testing::Values("hide-inside-tick-box.play", "switch-inside-switch-box.play",
                                           "start-without-backlight.play",
                                           "failed-clear-beside-failed-status-query-2092.play",
                                           "failed-clear-beside-failed-status-query-1161.play",
                                           "failed-clear-beside-failed-status-query-1019.play"));

TEST(SimulateTest, ADayIsItsSeedsAndPlaysAgainFromItsScript) {
    handheld::DayOptions options;
    options.seed = 7;
    options.length = 2 * 3600 * 1000;
    handheld::DayResult first = handheld::SimulateDay(options);
    handheld::DayResult again = handheld::SimulateDay(options);
    ASSERT_FALSE(first.script_error);
    EXPECT_EQ(first.lines, again.lines);
    EXPECT_EQ(first.ticks, again.ticks);
    EXPECT_GE(first.clock, options.length);

    handheld::DayResult replayed = handheld::CheckScript(first.lines);
    EXPECT_FALSE(replayed.script_error);
    EXPECT_EQ(first.ticks, replayed.ticks);
    EXPECT_EQ(first.clock, replayed.clock);
    EXPECT_EQ(first.violation.has_value(), replayed.violation.has_value());

    options.seed = 8;
    EXPECT_NE(first.lines, handheld::SimulateDay(options).lines);
}

}  // namespace

namespace {

using handheld::DayResult;
using handheld::InChildProcess;
using handheld::StuckDay;

TEST(DayProcessTest, AChildsDayComesBackWholeStuckOrDead) {
    DayResult day;
    day.ticks = 57600;
    day.clock = 86400000;
    day.violation = handheld::Violation{"menu", "2 items checked\n(65008)", 12, 4500};
    day.lines = {"start", "com1 send \"$GPGGA\\r\\n\"", "wait 1500"};
    DayResult whole = InChildProcess([&](const StuckDay&) { return day; }).result;
    EXPECT_EQ(whole.ticks, day.ticks);
    EXPECT_EQ(whole.clock, day.clock);
    ASSERT_TRUE(whole.violation);
    EXPECT_EQ(whole.violation->invariant, "menu");
    EXPECT_EQ(whole.violation->detail, "2 items checked (65008)");
    EXPECT_EQ(whole.violation->step, 12);
    EXPECT_EQ(whole.lines, day.lines);

    // A stuck day gives what it has so far and never returns from there.
    handheld::DayOutcome stuck = InChildProcess([&](const StuckDay& tell) {
        tell(day);
        std::abort();
        return DayResult{};
    });
    EXPECT_FALSE(stuck.died);
    EXPECT_EQ(stuck.result.lines, day.lines);

    // A dead child leaves the steps it began, the one it died in last.
    handheld::DayOutcome dead = InChildProcess([&](const StuckDay&) -> DayResult {
        handheld::JournalStep("start");
        handheld::JournalStep("wait 1500");
        std::fputs(
            "==9==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x1\n    #0 0x2 in Tick\n"
            "\nSUMMARY: AddressSanitizer: heap-buffer-overflow monitor.cpp:40 in Tick\n",
            stderr);
        std::abort();
    });
    ASSERT_TRUE(dead.died);
    EXPECT_EQ(dead.died->rfind("signal 6\n==9==ERROR: AddressSanitizer: heap-buffer-overflow", 0), 0u) << *dead.died;
    EXPECT_NE(dead.died->find("    #0 0x2 in Tick\n"), std::string::npos);
    EXPECT_NE(dead.died->find("SUMMARY: AddressSanitizer: heap-buffer-overflow monitor.cpp:40"), std::string::npos);
    EXPECT_EQ(dead.begun, (std::vector<std::string>{"start", "wait 1500"}));
    EXPECT_EQ(handheld::DeathSignature(*dead.died),
              "SUMMARY: AddressSanitizer: heap-buffer-overflow monitor.cpp:40 in Tick");
}

}  // namespace
