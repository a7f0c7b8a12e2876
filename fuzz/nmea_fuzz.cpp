// Fuzzes the firmware-version query: the input is how the line behaves (its first byte) and what
// the receiver says on it (the rest), fed through the simulated receiver to a real port on the
// virtual handheld, read by the sentence reader and cut by the version extraction. The result
// must be what the rule gives for the bytes the reader can have heard.
//
// The first byte: bits 0-1 the pace (0 and 1 at line speed, 2 falling quiet for 3 s after the
// first 17 * (bits 4-7) bytes, 3 a trickle of a byte each 50 ms); bits 2-3 a failure (0 none,
// 1 the port cannot be opened, 2 it cannot be configured, 3 the wait after the first bits 4-7
// waits fails). Without them every input is said in one burst on a port that works, and the read's
// other ends (a quiet line in the middle, the 5 s limit, a failed wait or port) cannot be reached.
#include <algorithm>
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

constexpr host::Millis kPause = 3000;           // longer than the quiet limit and one wait
constexpr std::int64_t kTrickleMicros = 50000;  // about 100 bytes in the read's 5 s

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
    if (size < 1 || size > 1025) return 0;
    const int pace = data[0] & 3, failure = data[0] >> 2 & 3, count = data[0] >> 4;
    std::string said(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The port opens after the previous input has been said in full, so none of it is heard.
    host::Clock& clock = g_device->clock();
    clock.AdvanceTo(g_quiet_from);
    host::SimReceiver& receiver = g_device->serial().receiver();
    host::Millis at = clock.Now() + 1;
    // The bytes the reader may have heard when it stops, before the rule cuts them.
    std::size_t least = said.size(), most = said.size();
    if (pace == 3) {
        receiver.Send(at, said, kTrickleMicros);
        g_quiet_from = at + static_cast<host::Millis>((said.size() + 1) * kTrickleMicros / 1000) + 1;
        least = std::min<std::size_t>(said.size(), 95);
        most = std::min<std::size_t>(said.size(), 105);
    } else {
        std::size_t heard = pace == 2 ? std::min<std::size_t>(said.size(), 17 * count) : said.size();
        receiver.Send(at, said.substr(0, heard));
        host::Millis end = at + static_cast<host::Millis>((heard + 1) * host::SimReceiver::kByteMicros / 1000) + 1;
        if (heard < said.size()) {
            receiver.Send(end + kPause, said.substr(heard));
            end +=
                kPause + static_cast<host::Millis>((said.size() - heard + 1) * host::SimReceiver::kByteMicros / 1000);
        }
        g_quiet_from = end + 1;
        least = most = heard;
    }
    if (failure == 1) g_device->faults().FailNext("CreateFile", 1, ERROR_FILE_NOT_FOUND);
    if (failure == 2) g_device->faults().FailNext("SetCommState", 1, ERROR_GEN_FAILURE);
    if (failure == 3) {
        g_device->faults().FailNext("WaitCommEvent", 1, ERROR_GEN_FAILURE, count);
        least = 0;
    }

    HANDLE port = INVALID_HANDLE_VALUE;
    std::unique_ptr<char[]> text(new char[FW_TEXT_SIZE]);  // exactly the frame's buffer
    bool closed = QueryFirmwareVersion(port, text.get()) && port == INVALID_HANDLE_VALUE;
    g_device->faults().Clear();
    if (!closed) {
        std::fprintf(stderr, "the query did not close its port\n");
        std::abort();
    }
    if (failure == 1 || failure == 2) {
        if (std::strcmp(text.get(), FW_FALLBACK) != 0) {
            std::fprintf(stderr, "version \"%s\" from a port that failed\n", text.get());
            std::abort();
        }
        return 0;
    }
    for (std::size_t n = least; n <= most; ++n)
        if (Expected(said.substr(0, n)) == text.get()) return 0;
    std::fprintf(stderr, "version \"%s\", the rule gives \"%s\" for the %zu to %zu bytes heard\n", text.get(),
                 Expected(said.substr(0, most)).c_str(), least, most);
    std::abort();
}
