// Writers killed or stopped half-way through a write (PELORN_REGISTRY_FAULT), while other
// processes open the store: every key stays wholly as before or wholly as after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/device_test.h"
#include "tools/cli_support.h"

namespace {

using pelorn_test::Handheld;
using pelorn_test::Ran;

constexpr int kBig = 3000, kTree = 40;

class RegistryKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = pelorn_test::MakeTempFolder("pelorn-kill");
        std::string hex = "ab";
        for (int i = 1; i < 200; ++i)
            hex += ",ab";
        for (const std::string tag : {"old", "new"}) {
            std::ofstream reg(root_ + "/" + tag + ".reg");
            reg << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Kill\\Big]\n";
            for (int i = 0; i < kBig; ++i)
                reg << "\"V" << i << "\"=\"" << tag << "-" << i << std::string(40, 'x') << "\"\n";
            if (tag == "new") continue;
            reg << "[HKEY_CURRENT_USER\\Kill\\Small]\n\"x\"=\"old\"\n";
            for (int t = 0; t < kTree; ++t)
                reg << "[HKEY_CURRENT_USER\\Kill\\Tree\\T" << t << "]\n\"a\"=\"old\"\n\"b\"=hex:" << hex << "\n";
        }
    }
    void TearDown() override { pelorn_test::RemoveTree(root_); }
    std::string Device() const { return root_ + "/device"; }

    // What the three keys hold, each "old" or "new" when whole ("gone" for a deleted tree).
    std::string State() {
        Ran r = Handheld(Device(), {"reg", "query", "HKCU\\Kill", "/s"});
        EXPECT_EQ(0, r.exit) << r.err;
        auto count = [&](const char* pattern) {
            std::regex re(pattern);
            return std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), re), std::sregex_iterator());
        };
        auto whole = [](long old, long now, long all, const char* gone) -> std::string {
            if (old == all && now == 0) return "old";
            if (now == all && old == 0) return gone;
            return "mixed (" + std::to_string(old) + " old, " + std::to_string(now) + " new)";
        };
        return whole(count("REG_SZ    old-"), count("REG_SZ    new-"), kBig, "new") + " " +
               whole(count("x    REG_SZ    old"), count("x    REG_SZ    new"), 1, "new") + " " +
               whole(count("a    REG_SZ    old"), kTree - count("\\\\Tree\\\\T[0-9]+\n"), kTree, "gone");
    }

    // `handheld ARGS` run with `fault`, once it has stopped itself; empty if it ended first.
    std::unique_ptr<pelorn_test::HandheldProcess> StoppedWriter(const std::vector<std::string>& args,
                                                                const std::string& fault) {
        setenv("PELORN_REGISTRY_FAULT", fault.c_str(), 1);
        auto writer = std::make_unique<pelorn_test::HandheldProcess>(Device(), args, root_ + "/writer.out");
        unsetenv("PELORN_REGISTRY_FAULT");
        for (int status = 0; !Stopped(writer->pid());) {
            if (waitpid(writer->pid(), &status, WNOHANG) == writer->pid()) return nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return writer;
    }
    static bool Stopped(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::size_t end = text.rfind(')');
        return end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'T';
    }

    std::string root_;
};

// The writer stopped at its Nth write; another process reads then; the writer is killed; an
// opener (itself killed at its first write, or with no room to write) meets what it left.
TEST_F(RegistryKillTest, AWriterKilledAtItsNthWriteLeavesEveryKeyWhollyOldOrNew) {
    struct Writer {
        std::vector<std::string> args;
        std::string after;  // the state once it is through
        std::vector<int> writes;
    };
    const Writer writers[] = {
        {{"reg", "import", root_ + "/new.reg"}, "new old old", {1, 100, 200, 250}},
        {{"reg", "add", "HKCU\\Kill\\Small", "/v", "x", "/d", "new", "/f"}, "old new old", {1, 3, 6}},
        {{"reg", "delete", "HKCU\\Kill\\Tree", "/f"}, "old old gone", {1, 20, 45}},
    };
    int round = 0;
    for (const Writer& w : writers) {
        for (int n : w.writes) {
            SCOPED_TRACE(w.args[1] + " stopped at write " + std::to_string(n));
            pelorn_test::RemoveTree(Device());
            ASSERT_EQ(0, Handheld(Device(), {"reg", "import", root_ + "/old.reg"}).exit);
            auto writer = StoppedWriter(w.args, "stop-at-write=" + std::to_string(n));
            ASSERT_TRUE(writer) << "the writer made fewer than " << n << " writes";

            std::string state = State();
            EXPECT_TRUE(state == "old old old" || state == w.after) << state;
            kill(writer->pid(), SIGKILL);

            Ran opener;
            const std::vector<std::string> add = {"reg", "add", "HKCU\\Other", "/v", "y", "/d", "1", "/f"};
            if (round % 3 == 0) {
                opener = Handheld(Device(), {"reg", "query", "HKCU\\Kill\\Small"});
                EXPECT_EQ(0, opener.exit) << opener.err;
            } else if (round % 3 == 1) {
                setenv("PELORN_REGISTRY_FAULT", "kill-at-write=1", 1);
                opener = Handheld(Device(), add);
                unsetenv("PELORN_REGISTRY_FAULT");
                EXPECT_EQ(-1, opener.exit) << "the opener was not killed at its first write";
            } else {
                opener = Handheld(Device(), add, -1, 0);
                EXPECT_EQ(1, opener.exit) << "an opener with no room to write";
            }
            EXPECT_EQ(std::string::npos, (opener.out + opener.err).find("damaged")) << opener.out << opener.err;
            ++round;

            Ran check = Handheld(Device(), {"check"});
            EXPECT_EQ("ok\n", check.out) << check.err;
            state = State();
            EXPECT_TRUE(state == "old old old" || state == w.after) << state;
        }
    }
}

// An import stopped inside its commit, as by Ctrl-Z, holds nobody: the running system ticks on,
// its writes are kept until the importer is gone, and a status answers at once.
TEST_F(RegistryKillTest, AWriterStoppedInItsCommitHoldsNeitherTheSystemNorAStatus) {
    ASSERT_EQ(0, Handheld(Device(), {"reg", "import", root_ + "/old.reg"}).exit);
    pelorn_test::PelornProcess pelorn(Device(), -1, "", {"--headless", "--verbose"});
    ASSERT_EQ(0, Handheld(Device(), {"set", "pin38=high"}).exit);
    // A receiver that says nothing: the icon blinks, a frame a tick.
    auto lines = [&](const std::string& pattern, std::size_t from) {
        std::vector<double> times;
        std::string log = pelorn.Output().substr(std::min(from, pelorn.Output().size()));
        std::regex re(" +([0-9]+\\.[0-9]+)  " + pattern);
        for (auto it = std::sregex_iterator(log.begin(), log.end(), re); it != std::sregex_iterator(); ++it)
            times.push_back(std::stod((*it)[1]));
        return times;
    };
    for (int i = 0; i < 200 && lines("tray: icon 131", 0).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(lines("tray: icon 131", 0).empty()) << pelorn.Output();

    auto writer = StoppedWriter({"reg", "import", root_ + "/new.reg"}, "stop-at-sync=2");
    ASSERT_TRUE(writer);
    const std::size_t from = pelorn.Output().size();
    auto asked = std::chrono::steady_clock::now();
    Ran status = Handheld(Device(), {"status"});
    // Well under the two seconds a command waits for a lock: it waited for none.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_EQ(0, status.exit) << status.err;
    EXPECT_EQ(0u, status.out.find("Pelorn         = running")) << status.out;
    // A command that must write waits its two seconds, then names the holder.
    Ran set = Handheld(Device(), {"set", "ac=online"});
    EXPECT_EQ(1, set.exit);
    EXPECT_NE(std::string::npos, set.err.find("process " + std::to_string(writer->pid()) + " holds it")) << set.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(4700));
    std::vector<double> ticks = lines("tray: icon 13[01]", from);
    ASSERT_GE(ticks.size(), 3u) << pelorn.Output();
    for (std::size_t i = 1; i < ticks.size(); ++i)
        EXPECT_NEAR(1.5, ticks[i] - ticks[i - 1], 0.1) << pelorn.Output();
    // Hidden, the system takes STD and writes its time-outs, which wait for the importer.
    ASSERT_EQ(0, Handheld(Device(), {"send", "hide"}).exit);
    for (int i = 0; i < 100 && lines("time-out written: BattSuspendTimeout = 180 s", from).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Stopped(writer->pid()));
    kill(writer->pid(), SIGKILL);
    for (int i = 0; i < 100 && lines("registry free", from).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const std::string held = "registry busy \\(process " + std::to_string(writer->pid()) + " holds it\\)";
    EXPECT_EQ(1u, lines(held, from).size()) << pelorn.Output();
    EXPECT_EQ(1u, lines("registry free: the writes kept are committed", from).size()) << pelorn.Output();
    Ran profile = Handheld(Device(), {"status"});
    EXPECT_NE(std::string::npos, profile.out.find("backlight off after 30 s, suspend after 180 s")) << profile.out;
    const std::string state = State();
    EXPECT_TRUE(state == "old old old" || state == "new old old") << state;
}

}  // namespace
