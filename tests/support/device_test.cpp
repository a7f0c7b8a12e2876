#include "support/device_test.h"

#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pelorn_test {

std::string MakeTempFolder(const char* tag) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + tag + "-XXXXXX";
    std::string buf = pattern;
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    return buf;
}

void RemoveTree(const std::string& path) {
    nftw(
        path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void DeviceTest::SetUp() {
    folder_ = MakeTempFolder();
    host::BootOptions options = Options();
    options.folder = folder_ + "/device";
    device_ = &host::Handheld::Boot(options);
    device_->trace().Enable(true);
}

void DeviceTest::TearDown() {
    host::Handheld::PowerOff();
    device_ = nullptr;
    RemoveTree(folder_);
}

void DeviceTest::Reboot() {
    host::Handheld::PowerOff();
    host::BootOptions options = Options();
    options.folder = folder_ + "/device";
    device_ = &host::Handheld::Boot(options);
    device_->trace().Enable(true);
}

}  // namespace pelorn_test
