// Fuzzes the firmware-version query: the input is what the receiver says on the line, fed through
// the simulated receiver to a real port on the virtual handheld, read by the sentence reader and
// cut by the version extraction. The result must be what the rule gives for those bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gpsport/firmware.h"
#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"
#include "platform/host/sim_receiver.h"

namespace {

host::Handheld* g_device = nullptr;
std::string g_folder;
host::Millis g_quiet_from = 0;  // when the previous input's last byte has arrived

void SwitchOff() {
    host::Handheld::PowerOff();
    std::string cmd = "rm -rf '" + g_folder + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_folder.c_str());
}

// The rule, written from the bytes: up to the second '$' or 255 bytes, as a C string; then what
// lies between the first ':' and the first '-' after it, or the fallback.
std::string Expected(const std::string& said) {
    std::size_t first = said.find('$');
    std::size_t second = first == std::string::npos ? std::string::npos : said.find('$', first + 1);
    std::size_t keep = std::min<std::size_t>(std::min<std::size_t>(second, 255), said.size());
    std::string text = said.substr(0, keep);
    text = text.substr(0, text.find('\0'));
    std::size_t colon = text.find(':'), dash = text.find('-');
    if (colon == std::string::npos || dash == std::string::npos || dash < colon) return FW_FALLBACK;
    return text.substr(colon + 1, dash - colon - 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/pelorn-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    g_folder = pattern;
    host::BootOptions options;
    options.folder = g_folder + "/device";
    g_device = &host::Handheld::Boot(options);
    g_device->serial().Map(1, "sim");
    g_device->serial().receiver().SetNmeaOutput(false);
    g_device->gpio().DrivePin38(true);
    std::atexit(SwitchOff);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Longer input only repeats what 255 bytes already cover, at 2 ms a byte of virtual time.
    if (size > 1024) return 0;
    std::string said(reinterpret_cast<const char*>(data), size);

    // The port opens after the previous input has been said in full, so none of it is heard.
    host::Clock& clock = g_device->clock();
    clock.AdvanceTo(g_quiet_from);
    host::Millis at = clock.Now() + 1;
    g_device->serial().receiver().Send(at, said);
    g_quiet_from = at + static_cast<host::Millis>((size + 1) * host::SimReceiver::kByteMicros / 1000) + 1;

    HANDLE port = INVALID_HANDLE_VALUE;
    std::unique_ptr<char[]> text(new char[FW_TEXT_SIZE]);  // exactly the frame's buffer
    if (!QueryFirmwareVersion(port, text.get()) || port != INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "the query did not close its port\n");
        std::abort();
    }
    std::string expected = Expected(said);
    if (expected != text.get()) {
        std::fprintf(stderr, "version \"%s\", the rule gives \"%s\"\n", text.get(), expected.c_str());
        std::abort();
    }
    return 0;
}
