// `handheld play`: a script's steps on the scenario engine (player.h), with the trace and what
// `reg query` steps print written out as they happen.
#include "handheld/play.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>

#include "handheld/player.h"
#include "handheld/script.h"
#include "handheld/text.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

constexpr std::size_t kMaxScript = 16u << 20;

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

    std::optional<ScenarioDevice> scenario;
    try {
        scenario.emplace();
    } catch (const std::exception& e) {
        err << "handheld play: " << e.what() << "\n";
        return 1;
    }
    host::Handheld& device = scenario->device();
    ScriptSteps source(std::move(steps));
    Player player(device, source, folder, out);
    host::Trace& trace = device.trace();
    trace.Keep(false);
    trace.StreamTo(&out);
    trace.Observe([&player](const host::TraceEntry& e) { player.PortOpened(e); });
    trace.Enable(true);

    int rc = 0;
    try {
        player.Run();
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
    scenario.reset();
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
