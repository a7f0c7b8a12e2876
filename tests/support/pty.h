// A pseudo-terminal standing in for the cable to a GPS receiver: the handheld opens path() as a
// serial port; the test talks as the receiver, at line pace from a thread of its own, and hears
// what the handheld sent.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace pelorn_test {

class Pty {
public:
    // 10 bits a byte at 4800 baud.
    static constexpr std::chrono::microseconds kByteTime{10'000'000 / 4800};

    // Both ends raw, so bytes pass unchanged and nothing is echoed. Throws std::runtime_error.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // The terminal the handheld opens, as /dev/pts/N.
    const std::string& path() const { return path_; }

    // Starts sending `bytes`, one every `per_byte`, measured from now (no drift). A running talk
    // is stopped first and whatever it left unread on the line is dropped.
    void Talk(std::string bytes, std::chrono::microseconds per_byte = kByteTime);
    // Waits until the talk has sent everything.
    void Finish();
    // Stops talking; returns how many bytes were sent.
    std::size_t Hush();

    // What the handheld has written so far, waiting up to `patience` for at least `at_least` bytes.
    std::string Heard(std::size_t at_least = 0, std::chrono::milliseconds patience = std::chrono::milliseconds(2000));

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the line never hangs up between users
    std::string path_;
    std::thread talker_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> sent_{0};
    std::string heard_;
};

}  // namespace pelorn_test
