#include "handheld/play/play_records.h"

#include <nlohmann/json.hpp>

namespace handheld {
namespace {

std::string Quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string StepRecord(std::int64_t t, int line, const std::string& step) {
    return "{\"t\":" + std::to_string(t) + ",\"step\":" + Quoted(step) + ",\"line\":" + std::to_string(line) + "}";
}

std::string OutputRecord(std::int64_t t, int line, const std::string& text) {
    return "{\"t\":" + std::to_string(t) + ",\"line\":" + std::to_string(line) + ",\"output\":" + Quoted(text) + "}";
}

void PlayRecords::Call(const std::string& call, std::string record, std::size_t open) {
    if (as_returned_) return Made(std::move(record), 0);
    // Calls return innermost first: what is held past the last record at this depth or above ran
    // inside this call, and is now part of it.
    std::size_t first = held_.size();
    while (first > 0 && held_[first - 1].group > open)
        --first;
    const std::string within = ",\"within\":" + Quoted(call) + "}";
    for (std::size_t i = first; i < held_.size(); ++i) {
        if (held_[i].open == open + 1 && held_[i].record.back() == '}') {
            held_[i].record.pop_back();
            held_[i].record += within;
        }
        held_[i].group = open;
    }
    held_.insert(held_.begin() + static_cast<std::ptrdiff_t>(first), Held{open, open, std::move(record)});
    if (open == 0) FlushFinished();
}

void PlayRecords::Made(std::string record, std::size_t open) {
    held_.push_back(Held{open, open, std::move(record)});
    if (open == 0) FlushFinished();
}

std::size_t PlayRecords::MadeUnfinished(std::string record, std::size_t open) {
    held_.push_back(Held{open, open, std::move(record), ++numbered_});
    return numbered_;
}

void PlayRecords::Finish(std::size_t number, const std::string& field) {
    for (Held& h : held_)
        if (h.unfinished == number) {
            // Before "within", which the call around it adds only when it returns, after this.
            h.record.insert(h.record.size() - 1, "," + field);
            h.unfinished = 0;
        }
    bool inside_a_call = false;
    for (const Held& h : held_)
        inside_a_call = inside_a_call || h.group > 0;
    if (!inside_a_call) FlushFinished();
}

void PlayRecords::FlushFinished() {
    std::size_t n = 0;
    while (n < held_.size() && !held_[n].unfinished)
        out_ << held_[n++].record << '\n';
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    out_.flush();
}

void PlayRecords::Flush() {
    for (const Held& h : held_)
        out_ << h.record << '\n';
    held_.clear();
    out_.flush();
}

}  // namespace handheld
