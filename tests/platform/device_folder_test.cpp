#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(DeviceFolder, IsCreatedOnFirstUseAndKeptToItsOwner) {
    std::string root = pelorn_test::MakeTempFolder("pelorn-folder");
    std::string fresh = root + "/a/b/device";
    host::BootOptions options;
    options.folder = fresh;
    host::Handheld::Boot(options);
    host::Handheld::PowerOff();
    EXPECT_EQ(0700u, ModeOf(fresh));

    // A folder somebody opened up is closed again.
    ASSERT_EQ(0, chmod(fresh.c_str(), 0755));
    host::Handheld::Boot(options);
    host::Handheld::PowerOff();
    EXPECT_EQ(0700u, ModeOf(fresh));
    pelorn_test::RemoveTree(root);
}

}  // namespace
