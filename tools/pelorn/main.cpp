// pelorn: runs the system on the virtual handheld, on the real clock, until its window closes.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/switch_app.h"
#include "common/device_choice.h"
#include "common/status.h"
#include "common/system_lock.h"
#include "pelorn/console.h"
#include "pelorn/face.h"
#include "platform/host/handheld.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"

namespace {

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
    (void)ignored;
}

void Usage(FILE* out) {
    std::fputs(
        "usage: pelorn [--headless [--verbose]] [--device DIR [--new]] [--help] [--version]\n"
        "Runs Pelorn on the virtual handheld in DIR, or in PELORN_DEVICE, or the default one\n"
        "until its window is closed; Ctrl-C, SIGTERM or SIGHUP closes it.\n"
        "On a terminal it shows the handheld's face: the screen with the tray icon, menu and message\n"
        "boxes, and the devices' state; the mouse and the keys on its help line work it. Without a\n"
        "terminal, or with --headless, it writes a line for each change the screen or a device shows\n"
        "and presses OK on each message box itself, so that nothing waits for a person; a blinking\n"
        "icon is told once when it starts blinking, or frame by frame with --verbose.\n"
        "A device runs one Pelorn: a second one on the same device stops at once (exit 1), naming\n"
        "the process of the one running.\n"
        "Options:\n",
        out);
    std::fputs(tools::kDeviceOptionsHelp, out);
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
            continue;
        }
        if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
            continue;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pelorn %s\n", PELORN_VERSION);
            return 0;
        }
        try {
            if (tools::TakeDeviceOption(argc, argv, &i, &tools::ChosenDevice())) continue;
        } catch (const std::invalid_argument& e) {
            std::fprintf(stderr, "pelorn: %s\n", e.what());
            Usage(stderr);
            return 2;
        }
        std::fprintf(stderr, "pelorn: unknown argument '%s'\n", argv[i]);
        Usage(stderr);
        return 2;
    }

    host::BootOptions options;
    options.virtual_clock = false;
    options.program = "Pelorn";
    options.resources = &PelornResources();
    options.resident = true;
    host::Handheld* device = nullptr;
    std::unique_ptr<tools::SystemLock> lock;
    try {
        options.folder = tools::DeviceFolderToBoot(tools::ChosenDevice());
        device = &host::Handheld::Boot(options);
        lock = std::make_unique<tools::SystemLock>(device->device_folder());
    } catch (const host::DeviceError& e) {
        std::fprintf(stderr, "pelorn: %s\n", e.what());
        host::Handheld::PowerOff();
        return 1;
    }
    if (!lock->held()) {
        // Before anything of this process shows: the one running keeps GPSHDL and its answers.
        std::string who = lock->holder() > 0 ? "(pid " + std::to_string(lock->holder()) + ")" : "(its pid is unknown)";
        std::fprintf(stderr,
                     "pelorn: Pelorn already runs on the device in %s %s; one device runs one Pelorn, so this "
                     "one stops ('handheld send close' closes the one running)\n",
                     device->folder().c_str(), who.c_str());
        host::Handheld::PowerOff();
        return 1;
    }
    tools::AnswerStatusQueries(*device);
    std::printf("pelorn: running on the handheld in %s (Ctrl-C closes it)\n", device->folder().c_str());
    std::fflush(stdout);

    // Ctrl-C closes the window as another program would, so shutdown runs in order. Installed
    // before the face starts, so that the terminal library leaves these signals to us.
    if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        // A closed terminal (SIGHUP) ends Pelorn the same way.
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaction(sig, &sa, nullptr);
        device->windows().AddWakeSource(g_signal_pipe[0], [] {
            char buf[16];
            while (read(g_signal_pipe[0], buf, sizeof buf) > 0) {
            }
            if (CWnd* main = AfxGetMainWnd()) main->PostMessage(WM_CLOSE, 0, 0);
        });
    }

    std::unique_ptr<host::User> user;
    if (!headless && pelorn::Face::Possible()) {
        try {
            user = std::make_unique<pelorn::Face>(*device);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pelorn: no face on this terminal (%s); writing log lines\n", e.what());
        }
    }
    if (!user) user = std::make_unique<pelorn::Console>(*device, stdout, verbose);
    device->SetUser(user.get());

    // The application object lives in the app library; naming it here links it in.
    if (AfxGetApp() != &theApp) {
        std::fputs("pelorn: the application object is missing\n", stderr);
        return 1;
    }
    int rc = AfxWinMain();
    device->SetUser(nullptr);
    user.reset();
    host::Handheld::PowerOff();
    lock.reset();
    std::printf("pelorn: closed\n");
    return rc;
}
