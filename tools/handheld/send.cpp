// `handheld send`: the control messages another program sends to the window named by GPSHDL.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "common/control.h"
#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"

namespace handheld {
namespace {

std::string Usage() {
    return "usage: handheld send [--help] " + tools::ControlMessageNames() + " | MSG [WPARAM [LPARAM]]\n";
}

std::string Hex(unsigned long long v, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, v);
    return buf;
}

std::string Handle(DWORD h) { return Hex(h, 8); }

// A number as C writes it: decimal, or hex after 0x.
std::optional<unsigned long long> Number(const char* text) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 0);
    if (*text == '-' || end == text || *end || errno) return std::nullopt;
    return v;
}

// Why the window's owner refused a message, for the sender.
std::string Refusal(DWORD error) {
    if (error == ERROR_ACCESS_DENIED)
        return "only the window manager sends it; other programs may send WM_NULL, WM_CLOSE, WM_COMMAND and "
               "messages from WM_USER (0x0400) to 0xFFFF (error 5)";
    if (error == ERROR_BUSY) return "it has too many senders waiting already (error 170)";
    if (error == ERROR_NOT_ENOUGH_QUOTA) return "its queue is full (error 1816)";
    return "error " + std::to_string(error);
}

// What the sender waits for and what a result means, in words, for the named messages.
struct Outcome {
    const char* name;
    const char* waits;   // said before sending; null: answered at once
    const char* done;    // the handler returned nonzero (close: any result)
    const char* failed;  // the handler returned 0; null: 0 is no failure
};

const Outcome kOutcomes[] = {
    {"show", nullptr, "the tray icon is shown and Pelorn follows the receiver again", nullptr},
    {"hide", nullptr, "the tray icon is hidden and Pelorn leaves the receiver alone", nullptr},
    {"reset", "Pelorn sends the reset sentence on COM1: and answers about 5 s later",
     "the reset sentence was sent on COM1:", "Pelorn could not open COM1: (its message box says so)"},
    {"close", nullptr, "Pelorn closed", nullptr},
    {"about", "Pelorn shows its About box and answers when it is closed", "the About box was closed", nullptr},
};

const Outcome* OutcomeOf(const tools::ControlMessage& message) {
    for (const Outcome& o : kOutcomes)
        if (std::strcmp(o.name, message.name) == 0) return &o;
    return nullptr;
}

// Says once, after a second without an answer, that the window's loop is still held: by this
// message's handler or an earlier one, in a reset's wait or a message box waiting for its OK.
class SlowAnswerNote {
public:
    explicit SlowAnswerNote(DWORD window)
        : thread_([this, window] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(1), [this] { return answered_; }))
                  std::cerr << "handheld send: window " << Handle(window)
                            << " has not answered for 1 s: it is still handling this or an earlier message (a "
                               "reset holds it about 5 s, a message box until its OK; handheld status shows which); "
                               "waiting\n";
          }) {}
    ~SlowAnswerNote() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answered_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool answered_ = false;
    std::thread thread_;
};

}  // namespace

int SendMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        std::cout << Usage()
                  << "Sends a message to the system's window (GPSHDL in HKLM\\SOFTWARE\\Apps\\Tavro SW) on the\n"
                     "device in PELORN_DEVICE, waits for it to be handled and says what happened; a message by\n"
                     "number prints the handler's result. What a slow answer waits for is told on standard error.\n";
        for (const tools::ControlMessage& m : tools::ControlMessages())
            std::printf("  %-6s %s: %s\n", m.name, tools::Spelled(m).c_str(), m.summary);
        std::cout << "  MSG [WPARAM [LPARAM]]  any message by number (decimal or 0x hex), as another program\n"
                     "         could send it; the window refuses those only the window manager sends\n"
                     "Exits 0 when the message was handled, 1 when no system window is there to answer, it\n"
                     "refuses the message, or the reset could not open COM1:.\n";
        return 0;
    }
    tools::ControlMessage raw{"", 0, 0, ""};
    LPARAM lparam = 0;
    const tools::ControlMessage* message = argc == 2 ? tools::FindControlMessage(argv[1]) : nullptr;
    // A message by number, as any program could send it.
    if (!message && argc >= 2 && argc <= 4 && std::isdigit(static_cast<unsigned char>(argv[1][0]))) {
        std::optional<unsigned long long> msg = Number(argv[1]);
        std::optional<unsigned long long> wp = argc > 2 ? Number(argv[2]) : 0ull;
        std::optional<unsigned long long> lp = argc > 3 ? Number(argv[3]) : 0ull;
        if (!msg || *msg > 0xFFFFFFFFull || !wp || !lp) {
            std::cerr << "handheld send: MSG, WPARAM and LPARAM are numbers (decimal or 0x hex)\n" << Usage();
            return 2;
        }
        raw = tools::ControlMessage{"", static_cast<UINT>(*msg), static_cast<WPARAM>(*wp), ""};
        lparam = static_cast<LPARAM>(*lp);
        message = &raw;
    }
    if (!message) {
        if (argc > 1)
            std::cerr << "handheld send: "
                      << (argc > 2 ? "one message at a time" : "unknown message '" + std::string(argv[1]) + "'")
                      << "\n";
        std::cerr << Usage();
        return 2;
    }
    try {
        OnDevice on;
        host::Handheld& device = on.device();
        std::optional<DWORD> window = tools::PublishedWindow(device);
        // A Pelorn whose start-up has not published its window yet: the message has nowhere to go.
        const bool published = window && *window && host::WindowOwner(device.folder(), tools::WindowOf(*window));
        if (std::vector<pid_t> starting = host::AnsweringProcesses(device.folder()); !published && !starting.empty()) {
            std::cerr << "handheld send: Pelorn (pid " << starting.back()
                      << ") is starting and has not published its window in GPSHDL yet; send again once "
                         "'handheld status' says it runs\n";
            return 1;
        }
        if (!window || *window == 0) {
            std::cerr << "handheld send: no Pelorn window on this device (GPSHDL is "
                      << (window ? "0: the system was closed" : "not set: the system never ran") << ")\n";
            return 1;
        }
        const Outcome* outcome = message == &raw ? nullptr : OutcomeOf(*message);
        if (outcome && outcome->waits)
            std::cerr << "handheld send: " << message->name << ": " << outcome->waits << "\n";
        SetLastError(ERROR_SUCCESS);
        LRESULT result = 0;
        DWORD error = ERROR_SUCCESS;
        {
            std::optional<SlowAnswerNote> note;
            if (!outcome || !outcome->waits) note.emplace(*window);
            result = ::SendMessage(tools::WindowOf(*window), message->msg, message->wparam, lparam);
            error = GetLastError();
        }
        if (error == ERROR_INVALID_WINDOW_HANDLE) {
            std::cerr << "handheld send: no Pelorn window on this device: window " << Handle(*window)
                      << " named by GPSHDL does not exist (error 1400)\n";
            return 1;
        }
        if (error != ERROR_SUCCESS) {
            std::cerr << "handheld send: window " << Handle(*window) << " refused message " << Hex(message->msg, 4)
                      << ": " << Refusal(error) << "\n";
            return 1;
        }
        if (!outcome) {
            std::cout << "window " << Handle(*window) << " handled message " << Hex(message->msg, 4) << ": result "
                      << result << "\n";
            return 0;
        }
        if (result == 0 && outcome->failed) {
            std::cerr << "handheld send: " << message->name << " failed: " << outcome->failed << " (result 0)\n";
            return 1;
        }
        std::cout << message->name << ": " << outcome->done << "\n";
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld send: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
