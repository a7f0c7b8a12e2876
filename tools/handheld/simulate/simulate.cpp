#include "handheld/simulate/simulate.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "handheld/simulate/day_process.h"
#include "handheld/text.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

// How long the system may hold the device between two steps before the day counts as stuck.
constexpr host::Millis kStepDeadline = 3600 * 1000;

// The checker, told each step only after the step is noted in the day's journal: a process that
// dies in a step leaves the steps up to that one.
class JournalingWatcher final : public PlayWatcher {
public:
    JournalingWatcher(DayChecker& checker, const DayGenerator* generator, const std::vector<std::string>& script)
        : checker_(checker), generator_(generator), script_(script) {}
    void Idle() override { checker_.Idle(); }
    void StepStarts(const Step& step) override {
        const std::vector<std::string>& lines = generator_ ? generator_->lines() : script_;
        if (step.line > 0 && static_cast<std::size_t>(step.line) <= lines.size()) JournalStep(lines[step.line - 1]);
        checker_.StepStarts(step);
    }
    void StepEnds(const Step& step) override { checker_.StepEnds(step); }

private:
    DayChecker& checker_;
    const DayGenerator* generator_;
    const std::vector<std::string>& script_;
};

DayResult Simulate(ScenarioDevice& scenario, StepSource& source, DayGenerator* generator, const std::string& folder,
                   const std::vector<std::string>& script, const StuckDay& stuck) {
    DayResult result;
    host::Handheld& device = scenario.device();
    std::ostringstream printed;  // what reg query steps print: nobody reads it here
    Player player(device, source, folder, printed);
    if (generator) generator->SetPlayer(player);
    DayChecker checker(device, player);
    JournalingWatcher watcher(checker, generator, script);
    player.SetWatcher(&watcher);
    if (stuck)
        checker.SetDeadline(kStepDeadline, [&](const Violation& v) {
            DayResult so_far;
            so_far.violation = v;
            so_far.lines = generator ? generator->lines() : script;
            so_far.ticks = checker.ticks();
            so_far.clock = v.t;
            scenario.Abandon();
            stuck(so_far);
        });
    host::Trace& trace = device.trace();
    trace.Keep(false);
    trace.Only(CheckedCalls());
    trace.Observe([&](const host::TraceEntry& e) {
        player.PortOpened(e);
        checker.Record(e);
    });
    trace.Enable(true);
    std::optional<std::string> deadlock;
    try {
        player.Run();
    } catch (const host::Deadlock& e) {
        deadlock = e.what();
    }
    trace.Enable(false);
    trace.Observe(nullptr);
    if (player.error()) {
        result.script_error = "line " + std::to_string(player.error()->line()) + ": " + player.error()->what();
    } else {
        checker.Finish(deadlock);
    }
    result.violation = checker.violation();
    result.ticks = checker.ticks();
    result.clock = device.clock().Now();
    return result;
}

std::vector<std::string> ReadLogs(const std::string& folder) {
    std::vector<std::string> logs;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return logs;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".log") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());  // the same logs in the same order, for the same days
    for (const std::string& name : names)
        if (std::optional<std::string> text = ReadBounded(folder + "/" + name, 1u << 20)) logs.push_back(*text);
    return logs;
}

// "signal 6\nreport..." as "signal 6):\n  report...", for a line that begins "... (".
std::string Indented(const std::string& died) {
    std::istringstream in(died);
    std::string first, out;
    std::getline(in, first);
    out = first + "):";
    for (std::string line; std::getline(in, line);)
        out += "\n  " + line;
    return out;
}

DayOutcome Replayed(const std::vector<std::string>& lines) {
    return InChildProcess([&](const StuckDay& stuck) { return CheckScript(lines, ".", stuck); });
}

bool Breaks(const std::vector<std::string>& lines, const std::string& invariant) {
    DayOutcome o = Replayed(lines);
    return !o.died && !o.result.script_error && o.result.violation && o.result.violation->invariant == invariant;
}

bool Dies(const std::vector<std::string>& lines, const std::string& signature) {
    DayOutcome o = Replayed(lines);
    return o.died && DeathSignature(*o.died) == signature;
}

// Writes the shrunk scenario of a failed day to `file`, under a header that tells the failure.
void WriteShrunk(const std::string& file, const std::string& header, std::size_t steps,
                 const std::vector<std::string>& shrunk) {
    std::ofstream f(file);
    f << "# " << header << "\n";
    f << "# shrunk from " << steps << " steps to " << shrunk.size() << "\n";
    for (const std::string& l : shrunk)
        f << l << "\n";
}

void Usage(std::ostream& out) {
    out << "usage: handheld simulate [--seeds N [--first S] | --seed S] [--hours H] [--out DIR] [--logs DIR]\n"
           "       handheld simulate --check SCRIPT\n"
           "       handheld simulate --invariants\n"
           "Runs random days of the handheld on the virtual clock, each from its seed (default: 1 seed,\n"
           "seed 1, 24 hours), and checks the invariants between every two turns. A failure prints its\n"
           "seed, step and invariant and writes the shrunk scenario to DIR/seed-S.play (default: .).\n"
           "--logs takes receiver excerpts from the *.log files of DIR. --check plays SCRIPT with the\n"
           "invariants checked. Exits 1 when any day fails.\n";
}

}  // namespace

DayResult SimulateDay(const DayOptions& options, const StuckDay& stuck) {
    ScenarioDevice scenario;
    DayGenerator generator(options, scenario.device());
    DayResult result = Simulate(scenario, generator, &generator, ".", {}, stuck);
    result.lines = generator.lines();
    return result;
}

DayResult CheckScript(const std::vector<std::string>& lines, const std::string& folder, const StuckDay& stuck) {
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    DayResult result;
    std::vector<Step> steps;
    try {
        steps = ParseScript(text);
    } catch (const ScriptError& e) {
        result.script_error = "line " + std::to_string(e.line()) + ": " + e.what();
        return result;
    }
    ScenarioDevice scenario;
    ScriptSteps source(std::move(steps));
    result = Simulate(scenario, source, nullptr, folder, lines, stuck);
    result.lines = lines;
    return result;
}

std::vector<std::string> Shrink(const std::vector<std::string>& lines, int step, int budget,
                                const std::function<bool(const std::vector<std::string>&)>& fails) {
    std::vector<std::string> best = lines;
    // The day up to the failing step: the steps after it did not take part.
    if (step > 0 && static_cast<std::size_t>(step) < lines.size()) {
        std::vector<std::string> prefix(lines.begin(), lines.begin() + step);
        if (fails(prefix)) best = prefix;
        --budget;
    }
    // Then chunks of steps, halving their size, each removed where the failure remains.
    for (std::size_t chunk = std::max<std::size_t>(1, best.size() / 2); budget > 0; chunk /= 2) {
        for (std::size_t at = 0; at < best.size() && budget > 0;) {
            std::vector<std::string> candidate(best.begin(), best.begin() + at);
            candidate.insert(candidate.end(), best.begin() + std::min(best.size(), at + chunk), best.end());
            --budget;
            if (!candidate.empty() && fails(candidate))
                best = std::move(candidate);
            else
                at += chunk;
        }
        if (chunk == 1) break;
    }
    return best;
}

int SimulateMain(int argc, char** argv) {
    std::uint64_t first = 1;
    long long seeds = 1;
    double hours = 24;
    std::string hours_text = "24";
    std::string out = ".";
    std::string logs;
    std::string check;
    int shrink_budget = 400;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        try {
            if (a == "--help" || a == "-h") {
                Usage(std::cout);
                return 0;
            } else if (a == "--invariants") {
                for (const Invariant& inv : Invariants())
                    std::cout << inv.name << ": " << inv.statement << "\n";
                return 0;
            } else if (a == "--seeds") {
                seeds = std::stoll(value());
            } else if (a == "--seed") {
                first = std::stoull(value());
                seeds = 1;
            } else if (a == "--first") {
                first = std::stoull(value());
            } else if (a == "--hours") {
                hours_text = value();
                hours = std::stod(hours_text);
            } else if (a == "--out") {
                out = value();
            } else if (a == "--logs") {
                logs = value();
            } else if (a == "--check") {
                check = value();
            } else if (a == "--shrink-budget") {
                shrink_budget = std::stoi(value());
            } else {
                throw std::invalid_argument("unknown option '" + a + "'");
            }
        } catch (const std::exception& e) {
            std::cerr << "handheld simulate: " << e.what() << "\n";
            Usage(std::cerr);
            return 2;
        }
    }

    if (!check.empty()) {
        std::optional<std::string> text = ReadBounded(check, 16u << 20);
        if (!text) {
            std::cerr << "handheld simulate: cannot read " << check << "\n";
            return 2;
        }
        std::vector<std::string> lines;
        std::istringstream in(*text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        std::size_t slash = check.rfind('/');
        std::string folder = slash == std::string::npos ? "." : check.substr(0, slash);
        DayOutcome o = InChildProcess([&](const StuckDay& stuck) { return CheckScript(lines, folder, stuck); });
        if (o.died) {
            std::cout << check << ": the process died (" << Indented(*o.died) << "\n";
            return 1;
        }
        const DayResult& r = o.result;
        if (r.script_error) {
            std::cerr << check << ": " << *r.script_error << "\n";
            return 2;
        }
        if (r.violation) {
            std::cout << check << ": step " << r.violation->step << ": invariant " << r.violation->invariant << ": "
                      << r.violation->detail << "\n";
            return 1;
        }
        std::cout << check << ": no invariant broken (" << r.ticks << " ticks)\n";
        return 0;
    }

    DayOptions options;
    options.length = static_cast<host::Millis>(hours * 3600 * 1000);
    if (!logs.empty()) options.logs = ReadLogs(logs);
    auto started = std::chrono::steady_clock::now();
    long long failed = 0, ticks = 0;
    host::Millis virtual_ms = 0;
    for (long long n = 0; n < seeds; ++n) {
        options.seed = first + static_cast<std::uint64_t>(n);
        std::cerr << "simulate: seed " << options.seed << "\n";
        DayOutcome o = InChildProcess([&](const StuckDay& stuck) { return SimulateDay(options, stuck); });
        const std::string file = out + "/seed-" + std::to_string(options.seed) + ".play";
        const std::string run = "handheld simulate --seed " + std::to_string(options.seed) + " --hours " + hours_text;
        if (o.died) {
            ++failed;
            const std::vector<std::string>& begun = o.begun;
            std::cout << "seed " << options.seed << ": ";
            if (!begun.empty()) std::cout << "step " << begun.size() << " (" << begun.back() << "): ";
            std::cout << "the process died (" << Indented(*o.died) << "\n";
            if (begun.empty()) continue;
            const std::string signature = DeathSignature(*o.died);
            std::vector<std::string> shrunk =
                Shrink(begun, static_cast<int>(begun.size()), shrink_budget,
                       [&](const std::vector<std::string>& lines) { return Dies(lines, signature); });
            WriteShrunk(file, run + ": the process died at step " + std::to_string(begun.size()) + ": " + signature,
                        begun.size(), shrunk);
            std::cout << "seed " << options.seed << ": shrunk to " << shrunk.size() << " steps in " << file
                      << std::endl;
            continue;
        }
        const DayResult& r = o.result;
        ticks += r.ticks;
        virtual_ms += r.clock;
        if (r.script_error) {
            ++failed;
            std::cout << "seed " << options.seed
                      << ": the generator made a step that cannot be carried out: " << *r.script_error << "\n";
            continue;
        }
        if (!r.violation) continue;
        ++failed;
        const Violation& v = *r.violation;
        std::string step =
            v.step > 0 && static_cast<std::size_t>(v.step) <= r.lines.size() ? r.lines[v.step - 1] : "(end of day)";
        std::cout << "seed " << options.seed << ": step " << v.step << " (" << step << ") at " << v.t
                  << " ms: invariant " << v.invariant << ": " << v.detail << "\n";
        std::vector<std::string> shrunk =
            Shrink(r.lines, v.step, shrink_budget,
                   [&](const std::vector<std::string>& lines) { return Breaks(lines, v.invariant); });
        WriteShrunk(file,
                    run + ": invariant " + v.invariant + " broken at step " + std::to_string(v.step) + ": " + v.detail,
                    r.lines.size(), shrunk);
        std::cout << "seed " << options.seed << ": shrunk to " << shrunk.size() << " steps in " << file << std::endl;
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    double virtual_hours = virtual_ms / 3600000.0;
    std::cout << "simulate: " << ticks << " virtual ticks, " << virtual_hours << " virtual hours in " << wall
              << " s wall (" << (wall > 0 ? virtual_hours / (wall / 60) : 0) << " virtual hours per minute)\n";
    std::cout << "simulate: " << seeds << " seeds, " << failed << " failed\n";
    return failed ? 1 : 0;
}

}  // namespace handheld
