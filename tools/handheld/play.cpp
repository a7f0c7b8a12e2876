// A scenario is the person at the handheld and the programs around it. The script is the
// device's User: whichever message loop is innermost and idle asks it for the next step, so a
// step such as `ok` answers the box that loop is showing, and nested modal loops need no threads.
#include "handheld/play.h"

#include <ftw.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include "app/switch_app.h"
#include "common/control.h"
#include "common/device_view.h"
#include "frame/main_frame.h"
#include "handheld/reg_command.h"
#include "handheld/script.h"
#include "handheld/text.h"
#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/power.h"
#include "platform/host/serial.h"
#include "platform/host/shell.h"
#include "platform/host/sim_receiver.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"
#include "settings/settings.h"

namespace handheld {
namespace {

constexpr std::uint32_t kGpioClear1 = 0x28;  // GPCR1
constexpr ULONG kPin38 = 1u << (38 - 32);
// What a script may make the handheld read: far more than a scenario needs, and bounded.
constexpr std::size_t kMaxLog = 16u << 20;
constexpr std::size_t kMaxScript = 16u << 20;

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/handheld-play-XXXXXX";
    if (!mkdtemp(path.data())) throw std::runtime_error("cannot make a temporary folder: " + path);
    return path;
}

void RemoveTree(const std::string& path) {
    nftw(
        path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

}  // namespace

std::string Com1Bytes(const Step& s, const std::string& folder) {
    if (s.Arg(1) == "send") return UnescapeBytes(s.words[2].text);
    std::string path = s.Arg(2);
    if (!path.empty() && path[0] != '/') path = folder + "/" + path;
    std::optional<std::string> bytes = ReadBounded(path, kMaxLog);
    if (!bytes) {
        if (errno == EFBIG)
            throw ScriptError(s.line,
                              "com1 log: " + path + " holds more than " + std::to_string(kMaxLog >> 20) + " MiB");
        throw ScriptError(s.line, "com1 log: cannot read " + path + ": " + std::strerror(errno));
    }
    std::string log;
    for (std::size_t at = 0; at < bytes->size();) {
        std::size_t end = std::min(bytes->find('\n', at), bytes->size());
        if (end == at || (*bytes)[at] != '#') log.append(*bytes, at, end + 1 - at);
        at = end + 1;
    }
    unsigned long long offset = s.words.size() > 3 ? std::stoull(s.Arg(3)) : 0;
    if (offset > log.size()) throw ScriptError(s.line, "com1 log: the log is shorter than the offset");
    return log.substr(offset);
}

namespace {

class Player final : public host::User {
public:
    Player(host::Handheld& device, std::vector<Step> steps, std::string folder, std::ostream& out)
        : device_(device), steps_(std::move(steps)), folder_(std::move(folder)), out_(out) {}

    bool ended() const { return ended_; }
    const std::optional<ScriptError>& error() const { return error_; }

    bool Act() override {
        if (ended_) {
            ::PostQuitMessage(0);  // every loop in the way gives up, innermost first
            return true;
        }
        host::Clock& clock = device_.clock();
        if (wait_until_) {
            // Straight on to whatever happens next, the next timer or the end of the wait, so
            // that a long wait costs only what happens in it and each timer still falls due on
            // its own millisecond.
            host::Millis now = clock.Now();
            if (now < *wait_until_) {
                host::Millis next = std::min(*wait_until_, device_.windows().NextTimerDue().value_or(*wait_until_));
                clock.AdvanceTo(std::max(next, now + 1));
                return true;
            }
            wait_until_.reset();
        }
        if (next_ >= steps_.size()) {
            End();
            return true;
        }
        const Step& step = steps_[next_++];
        try {
            Run(step);
        } catch (const ScriptError& e) {
            error_ = e;
            End();
        }
        return true;
    }

    // Serial output waits for COM1: to be opened.
    void PortOpened(const host::TraceEntry& e) {
        if (e.call != "CreateFile" || pending_.empty() || e.Num("result") == -1) return;
        std::string name = e.Str("lpFileName");
        for (auto& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name == "COM1:") Deliver(e.t);
    }

    // The process ran to the end of the script, or to an error: nothing it does now is shown.
    void End() {
        ended_ = true;
        device_.trace().Enable(false);
        ::PostQuitMessage(0);
    }

private:
    void Run(const Step& s) {
        switch (s.kind) {
            case StepKind::kReg:
                return Reg(s);
            case StepKind::kPower: {
                std::string v = s.Arg(1);
                return device_.power().SetAcLine(v == "battery"  ? AC_LINE_OFFLINE
                                                 : v == "online" ? AC_LINE_ONLINE
                                                                 : AC_LINE_UNKNOWN);
            }
            case StepKind::kPin38: {
                std::string v = s.Arg(1);
                return device_.gpio().DrivePin38(v == "released" ? std::nullopt : std::optional<bool>(v == "high"));
            }
            case StepKind::kAbsent: {
                if (s.Arg(1)[0] == 'B' || s.Arg(1)[0] == 'b') return device_.power().SetBacklightPresent(false);
                return device_.serial().Unmap(1);
            }
            case StepKind::kCom1:
                return Com1(s);
            case StepKind::kFail:
                device_.faults().FailNext(s.Arg(1), s.words.size() > 2 ? std::atoi(s.Arg(2).c_str()) : 1,
                                          ERROR_GEN_FAILURE);
                return;
            case StepKind::kStart:
                return Start(s);
            case StepKind::kWait:
                wait_until_ = device_.clock().Now() + std::atoll(s.Arg(1).c_str());
                return;
            case StepKind::kTap:
                return Tap(std::atoi(s.Arg(1).c_str()));
            case StepKind::kPick:
                return Pick(s);
            case StepKind::kOk: {
                const host::Modal* top = device_.windows().TopModal();
                if (!top) throw ScriptError(s.line, "ok: nothing is waiting for an answer");
                if (top->kind == host::Modal::Kind::kMenu) throw ScriptError(s.line, "ok: a menu is open (pick)");
                device_.windows().AcknowledgeTopModal();
                return;
            }
            case StepKind::kSend:
                return Send(s);
            case StepKind::kSignal:
                // As pelorn's signal handler does: a WM_CLOSE posted to the main window.
                if (CWnd* main = AfxGetMainWnd()) main->PostMessage(WM_CLOSE, 0, 0);
                return;
        }
    }

    void Reg(const Step& s) {
        std::vector<std::string> args;
        for (std::size_t i = 1; i < s.words.size(); ++i)
            args.push_back(s.Arg(i));
        RegCommand command = ParseRegCommand(args);
        RegOutcome outcome = RunRegCommand(command);
        if (command.operation == RegCommand::Operation::kQuery) {
            out_ << outcome.out << outcome.err << std::flush;
        } else if (outcome.exit_code != 0) {
            std::string message = outcome.err;
            while (!message.empty() && message.back() == '\n')
                message.pop_back();
            throw ScriptError(s.line, "reg: " + message);
        }
    }

    void Com1(const Step& s) {
        std::string what = s.Arg(1);
        if (what == "silent") {
            pending_.clear();
            ResetReceiver(device_);
            return;
        }
        pending_ += Com1Bytes(s, folder_);
        if (device_.serial().IsOpen(1)) Deliver(device_.clock().Now());
    }

    void Deliver(host::Millis at) {
        device_.serial().receiver().Send(at, std::move(pending_));
        pending_.clear();
    }

    bool Running() const { return system_ && ::IsWindow(system_); }

    void Start(const Step& s) {
        // Also while InitInstance has not returned: a box it shows asks the script what to do.
        if (starting_ || Running()) throw ScriptError(s.line, "start: the system is running (send close first)");
        // A new process: the framework's and the frame's process-wide state start afresh.
        theApp.m_pMainWnd = nullptr;
        CMainFrame::ResetProcessState();
        theApp.SetCurrentHandles();
        host::SystemCalls system(device_);
        starting_ = true;
        BOOL started = theApp.InitInstance();
        starting_ = false;
        if (started) {
            system_ = theApp.m_pMainWnd->GetSafeHwnd();
        } else {
            if (theApp.m_pMainWnd) theApp.m_pMainWnd->DestroyWindow();
            theApp.m_pMainWnd = nullptr;
            system_ = nullptr;
        }
    }

    void Tap(int x) {
        host::Shell& shell = device_.shell();
        const int y = host::kScreenHeight - host::kTaskbarHeight / 2;
        for (const host::TrayIcon& icon : shell.TrayIcons()) {
            std::optional<RECT> r = shell.TrayIconRect(icon.window, icon.id);
            if (r && x >= r->left && x < r->right) {
                shell.TapTray(icon.window, icon.id, x, y);
                return;
            }
        }
        shell.TapTray(nullptr, 0, x, y);  // the bare taskbar: closes an open menu, nothing else
    }

    void Pick(const Step& s) {
        const host::Modal* top = device_.windows().TopModal();
        if (!top || top->kind != host::Modal::Kind::kMenu) throw ScriptError(s.line, "pick: no menu is open");
        host::Shell& shell = device_.shell();
        if (!s.words[1].quoted) {
            shell.DismissMenu();
            return;
        }
        if (const auto* items = shell.MenuItems(top->menu))
            for (const host::MenuItem& item : *items)
                if (!item.separator && tools::Shown(item.text) == s.Arg(1)) {
                    if (!shell.ChooseMenuItem(item.id))
                        throw ScriptError(s.line, "pick: \"" + s.Arg(1) + "\" cannot be chosen");
                    return;
                }
        throw ScriptError(s.line, "pick: the menu has no item \"" + s.Arg(1) + "\"");
    }

    void Send(const Step& s) {
        // Another program finds the window as the system published it.
        const tools::ControlMessage* named = tools::FindControlMessage(s.Arg(1));
        UINT msg = named ? named->msg : *MessageNumber(s.Arg(1), 0xFFFF);
        WPARAM wparam = named ? named->wparam : s.words.size() > 2 ? *MessageNumber(s.Arg(2), 0xFFFFFFFF) : 0;
        ::SendMessage(tools::WindowOf(tools::PublishedWindow(device_).value_or(0)), msg, wparam, 0);
    }

public:
    // The scenario's receiver says nothing of its own, whatever pin 38 does.
    static void ResetReceiver(host::Handheld& device) {
        host::SimReceiver quiet(nullptr, device.clock().Now());
        quiet.SetNmeaOutput(false);
        device.serial().receiver() = std::move(quiet);
    }

private:
    host::Handheld& device_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::string folder_;
    std::ostream& out_;
    std::optional<host::Millis> wait_until_;
    std::string pending_;  // for COM1:, when it is next opened
    HWND system_ = nullptr;
    bool starting_ = false;
    bool ended_ = false;
    std::optional<ScriptError> error_;
};

void Usage(std::ostream& out) {
    out << "usage: handheld play [--help] SCRIPT\n"
           "Runs the scenario SCRIPT (- for standard input) on a fresh temporary handheld on the\n"
           "virtual clock and prints the trace of the system's platform calls (JSON Lines) and\n"
           "what `reg query` steps print. Exits 1 on a script error, naming its line.\n"
           "\n"
           "The device starts with every device present, the AC line on battery, pin 38 low and\n"
           "not driven by the hardware, and COM1: a receiver that sends only what com1 steps give\n"
           "it. Each step runs the device until it is idle or waits for the person. Steps, one a\n"
           "line (# starts a comment):\n"
        << StepSummary();
}

}  // namespace

int PlayScript(const std::string& text, const std::string& name, const std::string& folder, std::ostream& out,
               std::ostream& err) {
    std::vector<Step> steps;
    try {
        steps = ParseScript(text);
    } catch (const ScriptError& e) {
        err << name << ":" << e.line() << ": " << e.what() << "\n";
        return 1;
    }

    std::string temp;
    try {
        temp = TempFolder();
        host::BootOptions options;
        options.folder = temp + "/device";
        options.virtual_clock = true;
        options.program = "Pelorn";
        options.resources = &PelornResources();
        host::Handheld::Boot(options);
    } catch (const std::exception& e) {
        err << "handheld play: " << e.what() << "\n";
        if (!temp.empty()) RemoveTree(temp);
        return 1;
    }
    host::Handheld& device = host::Handheld::Current();
    device.gpio().Write(kGpioClear1, kPin38);
    device.power().SetAcLine(AC_LINE_OFFLINE);
    Player::ResetReceiver(device);

    Player player(device, std::move(steps), folder, out);
    device.SetUser(&player);
    host::Trace& trace = device.trace();
    trace.Keep(false);
    trace.StreamTo(&out);
    trace.Observe([&player](const host::TraceEntry& e) { player.PortOpened(e); });
    trace.Enable(true);

    int rc = 0;
    try {
        MSG m;
        for (;;) {
            if (::GetMessage(&m, nullptr, 0, 0)) {
                ::TranslateMessage(&m);
                ::DispatchMessage(&m);
                continue;
            }
            // WM_QUIT: the system's process ended; the script may start another.
            if (player.ended()) break;
        }
    } catch (const host::Deadlock& e) {
        err << name << ": the handheld can do nothing more: " << e.what() << "\n";
        rc = 1;
    }
    if (const auto& e = player.error()) {
        err << name << ":" << e->line() << ": " << e->what() << "\n";
        rc = 1;
    }

    trace.Enable(false);
    trace.StreamTo(nullptr);
    trace.Observe(nullptr);
    device.SetUser(nullptr);
    host::Handheld::PowerOff();
    theApp.m_pMainWnd = nullptr;
    RemoveTree(temp);
    out.flush();
    return rc;
}

int PlayCommand(int argc, char** argv) {
    std::string script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::cerr << "handheld play: unknown option '" << a << "'\n";
            std::cerr << "usage: handheld play [--help] SCRIPT\n";
            return 2;
        }
        if (!script.empty()) {
            std::cerr << "handheld play: one script only\nusage: handheld play [--help] SCRIPT\n";
            return 2;
        }
        script = a;
    }
    if (script.empty()) {
        std::cerr << "usage: handheld play [--help] SCRIPT\n";
        return 2;
    }
    std::string folder = ".";
    std::optional<std::string> text = ReadBounded(script == "-" ? "/dev/stdin" : script, kMaxScript);
    if (!text) {
        if (errno == EFBIG)
            std::cerr << "handheld play: " << script << " holds more than " << (kMaxScript >> 20)
                      << " MiB, more than a scenario can\n";
        else
            std::cerr << "handheld play: cannot read " << script << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (script != "-") {
        std::size_t slash = script.rfind('/');
        if (slash != std::string::npos) folder = slash == 0 ? "/" : script.substr(0, slash);
    }
    return PlayScript(*text, script, folder, std::cout, std::cerr);
}

}  // namespace handheld
