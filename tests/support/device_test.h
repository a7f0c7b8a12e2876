// A fresh virtual handheld for each test: its own temporary device folder, the virtual clock,
// and the trace on.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/host/handheld.h"

namespace pelorn_test {

// A new empty folder under the system's temporary directory.
std::string MakeTempFolder(const char* tag = "pelorn-test");
void RemoveTree(const std::string& path);

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Boot options for this test; the folder is filled in by SetUp.
    virtual host::BootOptions Options() { return {}; }

    host::Handheld& device() { return *device_; }
    host::Trace& trace() { return device_->trace(); }
    const std::string& folder() const { return folder_; }
    // Switches the device off and on again, as a second start of the system.
    void Reboot();

private:
    std::string folder_;
    host::Handheld* device_ = nullptr;
};

}  // namespace pelorn_test
