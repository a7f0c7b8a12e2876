#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace pelorn_test {

Pty::Pty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty failed: ") + std::strerror(errno));
    path_ = name;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    Hush();
    ::close(master_);
    ::close(slave_);
}

void Pty::Talk(std::string bytes, std::chrono::microseconds per_byte) {
    Hush();
    tcflush(slave_, TCIFLUSH);  // what an earlier talk left unread is gone
    stop_ = false;
    sent_ = 0;
    talker_ = std::thread([this, bytes = std::move(bytes), per_byte] {
        auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < bytes.size() && !stop_; ++i) {
            std::this_thread::sleep_until(start + per_byte * static_cast<long>(i + 1));
            // The master is non-blocking: a full buffer (nobody reading) waits a little.
            while (!stop_) {
                ssize_t n = ::write(master_, &bytes[i], 1);
                if (n == 1) break;
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
            if (!stop_) ++sent_;
        }
    });
}

void Pty::Finish() {
    if (talker_.joinable()) talker_.join();
}

std::size_t Pty::Hush() {
    stop_ = true;
    Finish();
    return sent_;
}

std::string Pty::Heard(std::size_t at_least, std::chrono::milliseconds patience) {
    auto until = std::chrono::steady_clock::now() + patience;
    for (;;) {
        char buf[512];
        ssize_t n;
        while ((n = ::read(master_, buf, sizeof buf)) > 0)
            heard_.append(buf, static_cast<std::size_t>(n));
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (heard_.size() >= at_least || left.count() <= 0) return heard_;
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
}

}  // namespace pelorn_test
