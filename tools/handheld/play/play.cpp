// `handheld play`: a script's steps on the scenario engine (player.h), with the trace and what
// `reg query` steps print written out as they happen.
#include "handheld/play/play.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "handheld/play/play_records.h"
#include "handheld/play/play_story.h"
#include "handheld/play/player.h"
#include "handheld/play/script.h"
#include "handheld/text.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

constexpr std::size_t kMaxScript = 16u << 20;

// Each step as a record before what it causes, and what it printed after it.
class StepRecords final : public PlayWatcher {
public:
    StepRecords(host::Handheld& device, const Player& player, PlayRecords& records, std::ostringstream& printed)
        : device_(device), player_(player), records_(records), printed_(printed) {}

    void Idle() override {}
    void StepStarts(const Step& step) override {
        std::string record = StepRecord(device_.clock().Now(), step.line, Spelled(step));
        // A send step's record waits for the window's answer; steps inside its wait come after it.
        if (step.kind == StepKind::kSend)
            sends_.push_back(records_.MadeUnfinished(std::move(record), Open()));
        else
            records_.Made(std::move(record), Open());
    }
    void StepEnds(const Step& step) override {
        if (step.kind == StepKind::kSend && !sends_.empty()) {
            records_.Finish(sends_.back(), "\"result\":" + std::to_string(player_.answer()));
            sends_.pop_back();
        }
        std::string text = printed_.str();
        if (text.empty()) return;
        printed_.str("");
        records_.Made(OutputRecord(device_.clock().Now(), step.line, text), Open());
    }

private:
    // The step as written, without its comment.
    static std::string Spelled(const Step& s) {
        std::string text;
        for (const Word& w : s.words)
            text += (text.empty() ? "" : " ") + (w.quoted ? "\"" + w.text + "\"" : w.text);
        return text;
    }
    // The system's calls running now, which a record made now ran inside.
    std::size_t Open() const { return device_.trace().entries().size(); }

    host::Handheld& device_;
    const Player& player_;
    PlayRecords& records_;
    std::ostringstream& printed_;
    std::vector<std::size_t> sends_;  // the send steps under way, innermost last
};

const char kUsageLine[] = "usage: handheld play [--help] [--summary] [--timeline FILE.svg] [--as-returned] SCRIPT\n";

void Usage(std::ostream& out) {
    out << kUsageLine
        << "Runs the scenario SCRIPT (- for standard input) on a fresh temporary handheld on the\n"
           "virtual clock and prints JSON Lines in the order things began: each step\n"
           "  {\"t\":MS,\"step\":\"pick \\\"GPS On\\\"\",\"line\":N}\n"
           "(a send step with the window's answer, \"result\": 1 handled, 0 failed for show, hide, reset)\n"
           "then the system's platform calls it caused {\"t\":MS,\"call\":\"GpioWrite\",...} and what\n"
           "it printed {\"t\":MS,\"line\":N,\"output\":\"...\"} (reg query). A record made while a call\n"
           "waited for the person (a message box, a menu) names that call in \"within\".\n"
           "Exits 1 on a script error, naming its line.\n"
           "  --summary            prints what happened in words instead, a line a moment\n"
           "  --timeline FILE.svg  also draws the scenario as lanes over time into FILE.svg\n"
           "  --as-returned        each call when it returned, without \"within\", as a platform's own\n"
           "                       trace writes it: to compare with one recorded elsewhere\n"
           "\n"
           "The device starts with every device present, the AC line on battery, pin 38 low and\n"
           "not driven by the hardware, and COM1: a receiver that sends only what com1 steps give\n"
           "it. Each step runs the device until it is idle or waits for the person. Steps, one a\n"
           "line (# starts a comment):\n"
        << StepSummary();
}

}  // namespace

int PlayScript(const std::string& text, const std::string& name, const std::string& folder, std::ostream& out,
               std::ostream& err, bool as_returned) {
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
    std::ostringstream printed;  // what reg query steps print, made into records
    Player player(device, source, folder, printed);
    PlayRecords records(out, as_returned);
    StepRecords step_records(device, player, records, printed);
    player.SetWatcher(&step_records);
    host::Trace& trace = device.trace();
    // Not kept: what is in the trace is the calls running now, the last of them the one returning.
    trace.Keep(false);
    trace.Observe([&](const host::TraceEntry& e) {
        player.PortOpened(e);
        records.Call(std::string(e.call), e.Json(), trace.entries().size() - 1);
    });
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
    trace.Observe(nullptr);
    records.Flush();
    scenario.reset();
    out.flush();
    return rc;
}

int PlayMain(int argc, char** argv) {
    std::string script, timeline;
    bool summary = false, as_returned = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        }
        if (a == "--as-returned") {
            as_returned = true;
            continue;
        }
        if (a == "--summary") {
            summary = true;
            continue;
        }
        if (a == "--timeline") {
            if (++i >= argc) {
                std::cerr << "handheld play: --timeline needs a FILE.svg\n" << kUsageLine;
                return 2;
            }
            timeline = argv[i];
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::cerr << "handheld play: unknown option '" << a << "'\n" << kUsageLine;
            return 2;
        }
        if (!script.empty()) {
            std::cerr << "handheld play: one script only\n" << kUsageLine;
            return 2;
        }
        script = a;
    }
    if (script.empty()) {
        std::cerr << kUsageLine;
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
    if (!summary && timeline.empty()) return PlayScript(*text, script, folder, std::cout, std::cerr, as_returned);

    std::ostringstream records;
    int rc = PlayScript(*text, script, folder, records, std::cerr);
    std::istringstream in(records.str());
    Story story = ReadStory(in);
    if (!timeline.empty()) {
        std::ofstream svg(timeline, std::ios::binary | std::ios::trunc);
        svg << TimelineSvg(story, script);
        svg.close();
        if (!svg) {
            std::cerr << "handheld play: cannot write " << timeline << ": " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    std::cout << (summary ? SummaryText(story) : records.str()) << std::flush;
    return rc;
}

}  // namespace handheld
