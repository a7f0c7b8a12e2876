// Writers killed or stopped half-way through a write (PELORN_REGISTRY_FAULT), while other
// processes open the store: every key stays wholly as before or wholly as after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
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

    std::string root_;
};

bool Stopped(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'T';
}

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
            setenv("PELORN_REGISTRY_FAULT", ("stop-at-write=" + std::to_string(n)).c_str(), 1);
            pelorn_test::HandheldProcess writer(Device(), w.args, root_ + "/writer.out");
            unsetenv("PELORN_REGISTRY_FAULT");
            int status = 0;
            bool ended = false;
            while (!Stopped(writer.pid()) && !(ended = waitpid(writer.pid(), &status, WNOHANG) == writer.pid()))
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ASSERT_FALSE(ended) << "the writer made fewer than " << n << " writes";

            std::string state = State();
            EXPECT_TRUE(state == "old old old" || state == w.after) << state;
            kill(writer.pid(), SIGKILL);

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

}  // namespace
