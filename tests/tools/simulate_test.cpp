// `handheld simulate`: days from seeds are reproducible, and every scenario the simulation once
// failed on (tests/scenarios/simulation, shrunk) now keeps every invariant.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "handheld/simulate.h"

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
                         ::testing::Values("hide-inside-tick-box.play", "switch-inside-switch-box.play"));

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
