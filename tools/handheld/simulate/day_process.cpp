#include "handheld/simulate/day_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace handheld {
namespace {

// A result as lines of "field value"; a script line never holds a line break.
std::string Encoded(const DayResult& r) {
    auto one_line = [](std::string s) {
        for (char& c : s)
            if (c == '\n' || c == '\r') c = ' ';
        return s;
    };
    std::ostringstream out;
    out << "ticks " << r.ticks << "\nclock " << r.clock << "\n";
    if (r.script_error) out << "error " << one_line(*r.script_error) << "\n";
    if (r.violation)
        out << "violation " << r.violation->step << " " << r.violation->t << " " << r.violation->invariant
            << "\ndetail " << one_line(r.violation->detail) << "\n";
    // The steps matter only to a day that failed: they are what is shrunk.
    if (r.script_error || r.violation)
        for (const std::string& l : r.lines)
            out << "line " << l << "\n";
    out << "end\n";
    return out.str();
}

std::optional<DayResult> Decoded(const std::string& text) {
    DayResult r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::size_t space = line.find(' ');
        std::string field = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (field == "end") return r;
        if (field == "ticks") {
            r.ticks = std::atoll(value.c_str());
        } else if (field == "clock") {
            r.clock = std::atoll(value.c_str());
        } else if (field == "error") {
            r.script_error = value;
        } else if (field == "violation") {
            Violation v;
            std::istringstream words(value);
            words >> v.step >> v.t >> v.invariant;
            r.violation = v;
        } else if (field == "detail" && r.violation) {
            r.violation->detail = value;
        } else if (field == "line") {
            r.lines.push_back(value);
        }
    }
    return std::nullopt;  // cut short: the child died while it wrote
}

std::string Contents(std::FILE* f) {
    std::string text;
    std::rewind(f);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text.append(buffer, n);
    return text;
}

// The child's journal of steps begun; -1 in any other process.
int journal_fd = -1;

void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string FaultReport(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string report;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("Sanitizer") == std::string::npos && lines[i].find("runtime error") == std::string::npos)
            continue;
        if (lines[i].find("ERROR: ") == std::string::npos && lines[i].find("runtime error") == std::string::npos)
            continue;
        for (std::size_t j = i; j < lines.size() && j <= i + 10; ++j)
            report += lines[j] + "\n";
        for (const std::string& l : lines)
            if (l.rfind("SUMMARY: ", 0) == 0) {
                report += l + "\n";
                break;
            }
        return report;
    }
    for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
        report += lines[i] + "\n";
    return report;
}

void JournalStep(const std::string& line) {
    if (journal_fd >= 0) WriteAll(journal_fd, line + "\n");
}

std::string DeathSignature(const std::string& died) {
    std::istringstream in(died);
    std::string first, line;
    std::getline(in, first);
    while (std::getline(in, line))
        if (line.rfind("SUMMARY: ", 0) == 0) return line;
    return first;
}

DayOutcome InChildProcess(const std::function<DayResult(const StuckDay& stuck)>& day) {
    DayOutcome outcome;
    std::FILE* result = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    std::FILE* journal = std::tmpfile();
    if (!result || !errors || !journal)
        throw std::runtime_error("cannot make a temporary file for a day's child process");
    // What is buffered here would otherwise be written twice, once by each process.
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot start a child process for a day");
    if (pid == 0) {
        dup2(fileno(errors), STDERR_FILENO);
        journal_fd = fileno(journal);
        auto send = [&](const DayResult& r) { WriteAll(fileno(result), Encoded(r)); };
        StuckDay stuck = [&](const DayResult& r) {
            send(r);
            std::_Exit(0);
        };
        send(day(stuck));
        // A normal end: the sanitizer's leak check runs at exit and fails the child if it finds any.
        std::exit(0);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string err = Contents(errors);
    std::optional<DayResult> r =
        WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Decoded(Contents(result)) : std::nullopt;
    if (r) {
        outcome.result = std::move(*r);
    } else {
        outcome.died = (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                            : "exit " + std::to_string(WEXITSTATUS(status))) +
                       "\n" + FaultReport(err);
        std::istringstream begun(Contents(journal));
        for (std::string line; std::getline(begun, line);)
            outcome.begun.push_back(line);
    }
    std::fclose(result);
    std::fclose(errors);
    std::fclose(journal);
    // Whatever the child said is not lost.
    std::fputs(err.c_str(), stderr);
    return outcome;
}

}  // namespace handheld
