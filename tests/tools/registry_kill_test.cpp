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

class RegistryKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = pelorn_test::MakeTempFolder("pelorn-kill");
        for (const std::string tag : {"old", "new"}) {
            std::ofstream reg(root_ + "/" + tag + ".reg");
            reg << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Kill\\Big]\n";
            for (int i = 0; i < 3000; ++i)
                reg << "\"V" << i << "\"=\"" << tag << "-" << i << std::string(40, 'x') << "\"\n";
            if (tag == "new") continue;
            reg << "[HKEY_CURRENT_USER\\Kill\\Small]\n\"x\"=\"old\"\n";
            for (int t = 0; t < 40; ++t)
                reg << "[HKEY_CURRENT_USER\\Kill\\Tree\\T" << t << "]\n\"a\"=\"old\"\n\"b\"=\"" << std::string(600, 'y')
                    << "\"\n";
        }
    }
    void TearDown() override { pelorn_test::RemoveTree(root_); }
    std::string Device() const { return root_ + "/device"; }

    // Big's old and new values, Small's old and new value, Tree's values "a" and keys.
    std::string State() {
        Ran r = Handheld(Device(), {"reg", "query", "HKCU\\Kill", "/s"});
        EXPECT_EQ(0, r.exit) << r.err;
        std::string counts;
        for (const char* pattern : {"REG_SZ    old-", "REG_SZ    new-", "x    REG_SZ    old", "x    REG_SZ    new",
                                    "a    REG_SZ    old", "\\\\Tree\\\\T[0-9]+\n"}) {
            std::regex re(pattern);
            counts += std::to_string(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), re), {})) + " ";
        }
        return counts;
    }
    const std::string kOld = "3000 0 1 0 40 40 ";

    // `handheld ARGS` run with `fault`, once it has stopped itself; empty if it ended first.
    std::unique_ptr<pelorn_test::HandheldProcess> StoppedWriter(const std::vector<std::string>& args,
                                                                const std::string& fault) {
        setenv("PELORN_REGISTRY_FAULT", fault.c_str(), 1);
        auto writer = std::make_unique<pelorn_test::HandheldProcess>(Device(), args, root_ + "/writer.out");
        unsetenv("PELORN_REGISTRY_FAULT");
        for (int status = 0;;) {
            std::ifstream stat("/proc/" + std::to_string(writer->pid()) + "/stat");
            if (std::string(std::istreambuf_iterator<char>(stat), {}).find(") T ") != std::string::npos) return writer;
            if (waitpid(writer->pid(), &status, WNOHANG) == writer->pid()) return nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::string root_;
};

// The writer stopped at its Nth write; another process reads then; the writer is killed; another
// opener meets what it left.
TEST_F(RegistryKillTest, AWriterKilledAtItsNthWriteLeavesEveryKeyWhollyOldOrNew) {
    struct Writer {
        std::vector<std::string> args;
        std::string after;  // the state once it is through
        std::vector<int> writes;
    };
    const Writer writers[] = {
        {{"reg", "import", root_ + "/new.reg"}, "0 3000 1 0 40 40 ", {1, 100, 200, 250}},
        {{"reg", "add", "HKCU\\Kill\\Small", "/v", "x", "/d", "new", "/f"}, "3000 0 0 1 40 40 ", {1, 3, 6}},
        {{"reg", "delete", "HKCU\\Kill\\Tree", "/f"}, "3000 0 1 0 0 0 ", {1, 20, 45}},
    };
    // A plain one, one killed at its own first write, one with no room to write (-1: killed).
    const struct Opener {
        const char* fault;
        long file_size;
        int exit;
    } openers[] = {{"", -1, 0}, {"kill-at-write=1", -1, -1}, {"", 0, 1}};
    int round = 0;
    for (const Writer& w : writers) {
        for (int n : w.writes) {
            SCOPED_TRACE(w.args[1] + " stopped at write " + std::to_string(n));
            pelorn_test::RemoveTree(Device());
            ASSERT_EQ(0, Handheld(Device(), {"reg", "import", root_ + "/old.reg"}).exit);
            auto writer = StoppedWriter(w.args, "stop-at-write=" + std::to_string(n));
            ASSERT_TRUE(writer) << "the writer made fewer than " << n << " writes";

            std::string state = State();
            EXPECT_TRUE(state == kOld || state == w.after) << state;
            kill(writer->pid(), SIGKILL);

            const Opener& o = openers[round++ % 3];
            setenv("PELORN_REGISTRY_FAULT", o.fault, 1);
            Ran opener = Handheld(Device(), {"reg", "add", "HKCU\\Other", "/v", "y", "/d", "1", "/f"}, -1, o.file_size);
            unsetenv("PELORN_REGISTRY_FAULT");
            EXPECT_EQ(o.exit, opener.exit) << opener.err;
            EXPECT_EQ(std::string::npos, (opener.out + opener.err).find("damaged")) << opener.out << opener.err;

            EXPECT_EQ("ok\n", Handheld(Device(), {"check"}).out);
            state = State();
            EXPECT_TRUE(state == kOld || state == w.after) << state;
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
    auto wait_for = [&](const std::string& pattern, std::size_t from) {
        for (int i = 0; i < 200 && lines(pattern, from).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !lines(pattern, from).empty();
    };
    ASSERT_TRUE(wait_for("tray: icon 131", 0)) << pelorn.Output();
    auto writer = StoppedWriter({"reg", "import", root_ + "/new.reg"}, "stop-at-sync=2");
    ASSERT_TRUE(writer);
    const std::size_t from = pelorn.Output().size();
    auto asked = std::chrono::steady_clock::now();
    Ran status = Handheld(Device(), {"status"});
    // Well under the two seconds a command waits for a lock: it waited for none.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_EQ(0u, status.out.find("Pelorn         = running")) << status.out;
    // A command that must write waits its two seconds, then names the holder.
    Ran set = Handheld(Device(), {"set", "ac=online"});
    EXPECT_NE(std::string::npos, set.err.find("process " + std::to_string(writer->pid()) + " holds it")) << set.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    std::vector<double> ticks = lines("tray: icon 13[01]", from);
    ASSERT_GE(ticks.size(), 3u) << pelorn.Output();
    for (std::size_t i = 1; i < ticks.size(); ++i)
        EXPECT_NEAR(1.5, ticks[i] - ticks[i - 1], 0.1) << pelorn.Output();
    // Hidden, the system takes STD and writes its time-outs, which wait for the importer.
    ASSERT_EQ(0, Handheld(Device(), {"send", "hide"}).exit);
    ASSERT_TRUE(wait_for("time-out written: BattSuspendTimeout = 180 s", from)) << pelorn.Output();
    kill(writer->pid(), SIGKILL);
    ASSERT_TRUE(wait_for("registry free: the writes kept are committed", from)) << pelorn.Output();
    EXPECT_EQ(1u, lines("registry busy \\(process " + std::to_string(writer->pid()) + " holds it\\)", from).size())
        << pelorn.Output();
    EXPECT_EQ(1u, lines("registry free", from).size()) << pelorn.Output();
    Ran profile = Handheld(Device(), {"status"});
    EXPECT_NE(std::string::npos, profile.out.find("backlight off after 30 s, suspend after 180 s")) << profile.out;
    const std::string state = State();
    EXPECT_TRUE(state == kOld || state == "0 3000 1 0 40 40 ") << state;
}

}  // namespace
