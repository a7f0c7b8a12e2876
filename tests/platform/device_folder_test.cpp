#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Starts the device on the real clock and opens a window: "" when that worked, else why not.
std::string Start(const std::string& folder) {
    host::BootOptions options;
    options.folder = folder;
    options.virtual_clock = false;
    try {
        host::Handheld::Boot(options);
    } catch (const host::DeviceError& e) {
        return e.what();
    }
    WNDCLASS wc{};
    wc.lpfnWndProc = DefWindowProc;
    wc.lpszClassName = u"Plain";
    RegisterClass(&wc);
    EXPECT_NE(nullptr, CreateWindowEx(0, u"Plain", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    host::Handheld::PowerOff();
    return "";
}

TEST(DeviceFolder, IsCreatedOnFirstUseAndKeptToItsOwner) {
    std::string root = pelorn_test::MakeTempFolder("pelorn-folder");
    std::string fresh = root + "/a/b/device";
    host::BootOptions options;
    options.folder = fresh;
    host::Handheld::Boot(options);
    host::Handheld::PowerOff();
    EXPECT_EQ(0700u, ModeOf(fresh));
    pelorn_test::RemoveTree(root);
}

TEST(DeviceFolder, WhatOthersCouldPlantIsRefusedNamingItOrPassedOverAndNothingIsFollowed) {
    const std::string root = pelorn_test::MakeTempFolder("pelorn-planted"), secret = root + "/secret";
    std::ofstream(secret) << "root-only secret config";
    // A new device's folder of `mode` and `owner` with `link` in it to `secret`: the start is
    // refused naming `named`, or goes when that is empty; `secret` and the mode stay as they were.
    auto expect = [&, n = 0](const std::string& link, mode_t mode, const std::string& named, uid_t owner = 0) mutable {
        const std::string folder = root + "/" + std::to_string(++n);
        ASSERT_EQ(0, mkdir(folder.c_str(), 0700) | mkdir((folder + "/windows").c_str(), 0700));
        if (link.find('/') == link.npos) rmdir((folder + "/windows").c_str());
        ASSERT_EQ(0, (link.empty() ? 0 : symlink(secret.c_str(), (folder + "/" + link).c_str())) |
                         chmod(folder.c_str(), mode) | (owner ? chown(folder.c_str(), owner, owner) : 0));
        const std::string error = Start(folder);
        EXPECT_TRUE(named.empty() ? error.empty() : error.find(folder + named) != error.npos) << error;
        std::ifstream in(secret);
        EXPECT_EQ("root-only secret config", std::string(std::istreambuf_iterator<char>(in), {})) << link;
        EXPECT_EQ(mode, ModeOf(folder));
        EXPECT_TRUE(named.empty() || !link.empty() || std::filesystem::is_empty(folder)) << "nothing made in it";
    };
    for (const char* link : {"registry.db", "registry.db-journal", "run", "windows"})
        expect(link, 0700, std::string("/") + link);
    expect("registry.db-gen", 0700, "");       // no longer used
    expect("windows/00010004.new", 0700, "");  // a new device's first window is published through it
    expect("", 0750, "");
    for (mode_t writable : {0770, 01777})
        expect("", writable, " can be written by other users");
    if (geteuid() == 0)
        expect("", 0700, " belongs to user 65534", 65534);
    else
        std::puts("not tried: another user's device folder, which needs root");
    pelorn_test::RemoveTree(root);
}

}  // namespace
