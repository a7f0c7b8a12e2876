// A scenario is the person at the handheld and the programs around it. The steps are the
// device's User: whichever message loop is innermost and idle asks for the next one, so a step
// such as `ok` answers the box that loop is showing, and nested modal loops need no threads.
#include "handheld/play/player.h"

#include <ftw.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/switch_app.h"
#include "common/control.h"
#include "common/device_view.h"
#include "frame/main_frame.h"
#include "handheld/reg/reg_command.h"
#include "handheld/text.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/serial.h"
#include "platform/host/shell.h"
#include "platform/host/sim_receiver.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"

namespace handheld {
namespace {

constexpr std::uint32_t kGpioClear1 = 0x28;  // GPCR1
constexpr ULONG kPin38 = 1u << (38 - 32);
// What a script may make the handheld read: far more than a scenario needs, and bounded.
constexpr std::size_t kMaxLog = 16u << 20;

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

// The scenario's receiver says nothing of its own, whatever pin 38 does.
void ResetReceiver(host::Handheld& device) {
    host::SimReceiver quiet(nullptr, device.clock().Now());
    quiet.SetNmeaOutput(false);
    device.serial().receiver() = std::move(quiet);
}

}  // namespace

ScenarioDevice::ScenarioDevice() {
    temp_ = TempFolder();
    try {
        host::BootOptions options;
        options.folder = temp_ + "/device";
        options.virtual_clock = true;
        options.private_folder = true;
        options.resident = true;
        options.program = "Pelorn";
        options.resources = &PelornResources();
        device_ = &host::Handheld::Boot(options);
    } catch (...) {
        RemoveTree(temp_);
        throw;
    }
    device_->gpio().Write(kGpioClear1, kPin38);
    device_->power().SetAcLine(AC_LINE_OFFLINE);
    ResetReceiver(*device_);
}

ScenarioDevice::~ScenarioDevice() {
    device_->SetUser(nullptr);
    host::Handheld::PowerOff();
    theApp.m_pMainWnd = nullptr;
    RemoveTree(temp_);
}

void ScenarioDevice::Abandon() { RemoveTree(temp_); }

struct Player::State {
    State(host::Handheld& d, StepSource& s, std::string f, std::ostream& o)
        : device(d), steps(s), folder(std::move(f)), out(o) {}

    host::Handheld& device;
    StepSource& steps;
    std::string folder;
    std::ostream& out;
    PlayWatcher* watcher = nullptr;
    std::optional<host::Millis> wait_until;
    std::string pending;  // for COM1:, when it is next opened
    HWND system = nullptr;
    LRESULT answer = 0;
    bool starting = false;
    bool ended = false;
    std::optional<ScriptError> error;

    bool Running() const { return system && ::IsWindow(system); }

    // The process ran to the end of the script, or to an error: nothing it does now is shown.
    void End() {
        ended = true;
        device.trace().Enable(false);
        ::PostQuitMessage(0);
    }

    void Run(const Step& s) {
        switch (s.kind) {
            case StepKind::kReg:
                return Reg(s);
            case StepKind::kPower: {
                std::string v = s.Arg(1);
                return device.power().SetAcLine(v == "battery"  ? AC_LINE_OFFLINE
                                                : v == "online" ? AC_LINE_ONLINE
                                                                : AC_LINE_UNKNOWN);
            }
            case StepKind::kPin38: {
                std::string v = s.Arg(1);
                return device.gpio().DrivePin38(v == "released" ? std::nullopt : std::optional<bool>(v == "high"));
            }
            case StepKind::kAbsent: {
                if (s.Arg(1)[0] == 'B' || s.Arg(1)[0] == 'b') return device.power().SetBacklightPresent(false);
                return device.serial().Unmap(1);
            }
            case StepKind::kCom1:
                return Com1(s);
            case StepKind::kFail:
                device.faults().FailNext(s.Arg(1), s.words.size() > 2 ? std::atoi(s.Arg(2).c_str()) : 1,
                                         ERROR_GEN_FAILURE);
                return;
            case StepKind::kStart:
                return Start(s);
            case StepKind::kWait:
                wait_until = device.clock().Now() + std::atoll(s.Arg(1).c_str());
                return;
            case StepKind::kTap:
                return Tap(std::atoi(s.Arg(1).c_str()));
            case StepKind::kPick:
                return Pick(s);
            case StepKind::kOk: {
                const host::Modal* top = device.windows().TopModal();
                if (!top) throw ScriptError(s.line, "ok: nothing is waiting for an answer");
                if (top->kind == host::Modal::Kind::kMenu) throw ScriptError(s.line, "ok: a menu is open (pick)");
                device.windows().AcknowledgeTopModal();
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
            out << outcome.out << outcome.err << std::flush;
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
            pending.clear();
            ResetReceiver(device);
            return;
        }
        pending += Com1Bytes(s, folder);
        if (device.serial().IsOpen(1)) Deliver(device.clock().Now());
    }

    void Deliver(host::Millis at) {
        device.serial().receiver().Send(at, std::move(pending));
        pending.clear();
    }

    void Start(const Step& s) {
        // Also while InitInstance has not returned: a box it shows asks the script what to do.
        if (starting || Running()) throw ScriptError(s.line, "start: the system is running (send close first)");
        // A new process: the framework's and the frame's process-wide state start afresh.
        theApp.m_pMainWnd = nullptr;
        CMainFrame::ResetProcessState();
        theApp.SetCurrentHandles();
        host::SystemCalls system_calls(device);
        starting = true;
        BOOL started = theApp.InitInstance();
        starting = false;
        if (started) {
            system = theApp.m_pMainWnd->GetSafeHwnd();
        } else {
            if (theApp.m_pMainWnd) theApp.m_pMainWnd->DestroyWindow();
            theApp.m_pMainWnd = nullptr;
            system = nullptr;
        }
    }

    void Tap(int x) {
        host::Shell& shell = device.shell();
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
        const host::Modal* top = device.windows().TopModal();
        if (!top || top->kind != host::Modal::Kind::kMenu) throw ScriptError(s.line, "pick: no menu is open");
        host::Shell& shell = device.shell();
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
        answer = ::SendMessage(tools::WindowOf(tools::PublishedWindow(device).value_or(0)), msg, wparam, 0);
    }
};

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

Player::Player(host::Handheld& device, StepSource& steps, std::string folder, std::ostream& out)
    : state_(std::make_unique<State>(device, steps, std::move(folder), out)) {}

Player::~Player() = default;

void Player::SetWatcher(PlayWatcher* watcher) { state_->watcher = watcher; }
bool Player::ended() const { return state_->ended; }
const std::optional<ScriptError>& Player::error() const { return state_->error; }
HWND Player::system() const { return state_->Running() ? state_->system : nullptr; }
bool Player::running() const { return state_->Running(); }
bool Player::starting() const { return state_->starting; }
LRESULT Player::answer() const { return state_->answer; }
void Player::Stop() {
    if (!state_->ended) state_->End();
}

bool Player::Act() {
    State& s = *state_;
    if (s.ended) {
        ::PostQuitMessage(0);  // every loop in the way gives up, innermost first
        return true;
    }
    if (s.watcher) {
        s.watcher->Idle();
        if (s.ended) return true;  // the watcher has seen enough
    }
    host::Clock& clock = s.device.clock();
    if (s.wait_until) {
        // Straight on to whatever happens next, the next timer or the end of the wait, so
        // that a long wait costs only what happens in it and each timer still falls due on
        // its own millisecond.
        host::Millis now = clock.Now();
        if (now < *s.wait_until) {
            host::Millis next = std::min(*s.wait_until, s.device.windows().NextTimerDue().value_or(*s.wait_until));
            clock.AdvanceTo(std::max(next, now + 1));
            return true;
        }
        s.wait_until.reset();
    }
    const Step* next = s.steps.Next();
    if (!next) {
        s.End();
        return true;
    }
    // A copy: steps asked for inside this one's modal waits may reuse the source's.
    const Step step = *next;
    try {
        if (s.watcher) s.watcher->StepStarts(step);
        s.Run(step);
        if (s.watcher) s.watcher->StepEnds(step);
    } catch (const ScriptError& e) {
        s.error = e;
        s.End();
    }
    return true;
}

void Player::PortOpened(const host::TraceEntry& e) {
    State& s = *state_;
    if (s.pending.empty() || e.call != "CreateFile" || e.Num("result") == -1) return;
    std::string name = e.Str("lpFileName");
    for (auto& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "COM1:") s.Deliver(e.t);
}

void Player::Run() {
    state_->device.SetUser(this);
    MSG m;
    for (;;) {
        if (::GetMessage(&m, nullptr, 0, 0)) {
            ::TranslateMessage(&m);
            ::DispatchMessage(&m);
            continue;
        }
        // WM_QUIT: the system's process ended; the script may start another.
        if (state_->ended) break;
    }
}

}  // namespace handheld
