// What a scenario player writes: one JSON object a line, in the order things began. Three kinds,
// each told by its field:
//   {"t":T,"call":"...",...}                  a platform call of the system (the trace's record)
//   {"t":T,"step":"pick \"GPS On\"","line":N}  a script step, before anything it causes; a
//                                             `send` step also carries the window's answer, "result"
//   {"t":T,"line":N,"output":"..."}            what step N printed (reg query)
// A record made while a call was running (inside a message box's or a menu's wait, say) names that
// call in "within", so that a reader can tell what answered the wait from what ran meanwhile.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace handheld {

std::string StepRecord(std::int64_t t, int line, const std::string& step);
std::string OutputRecord(std::int64_t t, int line, const std::string& text);

// Puts records back in the order they began. The trace writes a call when it returns, so a
// call that waited for the person follows everything that ran while it waited; this holds such
// records until the outermost call returns.
class PlayRecords {
public:
    // `as_returned`: each record as it is made instead, calls in the order they returned, as a
    // platform's own trace writes them (for comparing with one recorded elsewhere).
    explicit PlayRecords(std::ostream& out, bool as_returned = false) : out_(out), as_returned_(as_returned) {}
    ~PlayRecords() { Flush(); }

    // A finished call: `record` is its JSON object, `open` the calls still running around it.
    void Call(const std::string& call, std::string record, std::size_t open);
    // A step or output record made while `open` calls were running.
    void Made(std::string record, std::size_t open);
    // A record that is finished later (a send step, by the window's answer): it and everything
    // after it wait until Finish adds `field` ("\"result\":1") to it. Returns its number.
    std::size_t MadeUnfinished(std::string record, std::size_t open);
    void Finish(std::size_t number, const std::string& field);
    // Writes what is held: at the end, records inside calls that never returned and records
    // never finished.
    void Flush();

private:
    struct Held {
        std::size_t open;   // the calls running around it when it was made
        std::size_t group;  // ... around the outermost call it is part of, once that returned
        std::string record;
        std::size_t unfinished = 0;  // its number while it waits for Finish; 0: finished
    };
    // Writes what is held up to the first record not yet finished.
    void FlushFinished();

    std::ostream& out_;
    bool as_returned_;
    std::vector<Held> held_;  // in the order begun
    std::size_t numbered_ = 0;
};

}  // namespace handheld
