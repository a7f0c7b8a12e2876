// Messages from other processes on the same device: a child process owns a window on the real
// clock; this process (and others) deliver to it through the device folder.
#include "platform/host/endpoint.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/handheld.h"
#include "platform/host/windows.h"
#include "support/device_test.h"

namespace {

constexpr UINT kCount = WM_USER + 1;  // posted: counted
constexpr UINT kTotal = WM_USER + 2;  // sent: answers the count so far
constexpr UINT kAdd = WM_USER + 3;    // sent: answers wParam + lParam

long g_count = 0;

LRESULT CALLBACK OwnerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kCount:
            ++g_count;
            return 0;
        case kTotal:
            return g_count;
        case kAdd:
            return static_cast<LRESULT>(wp + lp);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProc(h, msg, wp, lp);
    }
}

// The owning process: boots the device on the real clock, creates its window, tells the parent
// the handle, and serves messages until the window is closed.
[[noreturn]] void RunOwner(const std::string& folder, int report) {
    host::BootOptions options;
    options.folder = folder;
    options.virtual_clock = false;
    host::Handheld::Boot(options).endpoint()->AnswerQueries([](UINT what) -> std::optional<std::string> {
        return what == 7 ? std::optional<std::string>("seven") : std::nullopt;
    });
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = u"Owner";
    RegisterClass(&wc);
    HWND h = CreateWindowEx(0, u"Owner", u"owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::uint32_t value = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(h));
    if (write(report, &value, sizeof value) != sizeof value) _exit(3);
    close(report);
    MSG m;
    while (GetMessage(&m, nullptr, 0, 0))
        DispatchMessage(&m);
    host::Handheld::PowerOff();
    _exit(0);
}

class EndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = pelorn_test::MakeTempFolder("pelorn-endpoint");
        folder_ = root_ + "/device";
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        owner_ = fork();
        ASSERT_GE(owner_, 0);
        if (owner_ == 0) {
            close(fds[0]);
            RunOwner(folder_, fds[1]);
        }
        close(fds[1]);
        std::uint32_t value = 0;
        ASSERT_EQ(static_cast<ssize_t>(sizeof value), read(fds[0], &value, sizeof value));
        close(fds[0]);
        window_ = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value));
        host::BootOptions options;
        options.folder = folder_;
        host::Handheld::Boot(options);
    }
    void TearDown() override {
        host::Handheld::PowerOff();
        if (owner_ > 0 && waitpid(owner_, nullptr, WNOHANG) == 0) {
            kill(owner_, SIGKILL);
            waitpid(owner_, nullptr, 0);
        }
        pelorn_test::RemoveTree(root_);
    }
    int WaitOwner() {
        int status = 0;
        waitpid(owner_, &status, 0);
        owner_ = -1;
        return status;
    }
    std::string SocketPath() {
        std::ifstream in(folder_ + "/run/" + std::to_string(owner_) + ".sock");
        return folder_ + "/run/" + std::to_string(owner_) + ".sock";
    }

    std::string root_, folder_;
    pid_t owner_ = -1;
    HWND window_ = nullptr;
};

TEST_F(EndpointTest, SendsReturnTheHandlersResultAndPostsArriveInOrder) {
    EXPECT_EQ(42, SendMessage(window_, kAdd, 40, 2));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(PostMessage(window_, kCount, 0, 0));
    EXPECT_EQ(100, SendMessage(window_, kTotal, 0, 0)) << "posts before a send are served before it";

    EXPECT_EQ(0, SendMessage(window_, WM_CLOSE, 0, 0));
    EXPECT_EQ(0, WaitOwner());
    SetLastError(0);
    EXPECT_EQ(0, SendMessage(window_, kAdd, 1, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError()) << "the window is gone";
    EXPECT_FALSE(PostMessage(window_, kCount, 0, 0));
}

TEST_F(EndpointTest, QueriesAreAnsweredByTheOwningProgram) {
    EXPECT_EQ(std::optional<std::string>("seven"), host::QueryOtherProcess(folder_, window_, 7));
    EXPECT_FALSE(host::QueryOtherProcess(folder_, window_, 8).has_value()) << "a query it does not answer";
    SendMessage(window_, WM_CLOSE, 0, 0);
    WaitOwner();
    EXPECT_FALSE(host::QueryOtherProcess(folder_, window_, 7).has_value());
}

TEST_F(EndpointTest, AWindowOfAKilledProcessFailsCleanly) {
    const std::string left = SocketPath();
    kill(owner_, SIGKILL);
    WaitOwner();
    SetLastError(0);
    EXPECT_EQ(0, SendMessage(window_, kAdd, 1, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    // What it left in the device folder goes at the next start of a program that listens there.
    host::Handheld::PowerOff();
    host::BootOptions options;
    options.folder = folder_;
    options.virtual_clock = false;
    host::Handheld::Boot(options);
    EXPECT_NE(0, access(left.c_str(), F_OK));
    EXPECT_TRUE(std::filesystem::is_empty(folder_ + "/windows"));
}

TEST_F(EndpointTest, IdleConnectionsNeitherLockOthersOutNorStayOpen) {
    std::vector<int> idle;
    for (std::size_t i = 0; i < host::kMaxPendingConnections + 8; ++i)
        idle.push_back(host::ConnectToOwner(folder_, window_));
    EXPECT_EQ(7, SendMessage(window_, kAdd, 3, 4));
    // The oldest gave way to newer ones; the others are closed once they have waited too long.
    host::WireReply reply{};
    EXPECT_EQ(static_cast<ssize_t>(sizeof reply), recv(idle.front(), &reply, sizeof reply, MSG_DONTWAIT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), reply.error);
    EXPECT_EQ(static_cast<ssize_t>(sizeof reply), recv(idle.back(), &reply, sizeof reply, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), reply.error);
    for (int s : idle)
        close(s);
}

TEST_F(EndpointTest, MalformedRequestsAreRefusedAndTheOwnerGoesOn) {
    std::string path = SocketPath();
    auto raw = [&](const void* data, std::size_t size) {
        int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address));
        if (size) send(s, data, size, 0);
        host::WireReply reply{};
        ssize_t n = recv(s, &reply, sizeof reply, 0);
        close(s);
        return n == static_cast<ssize_t>(sizeof reply) ? reply.error : 0xFFFFFFFFu;
    };
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), raw("short", 5));
    host::WireRequest bad{0xDEADBEEF, host::kWireVersion, host::kWireSend, 0, kAdd, 1, 1};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), raw(&bad, sizeof bad));
    std::vector<char> oversized(4096, 'x');
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), raw(oversized.data(), oversized.size()));
    host::WireRequest stranger{host::kWireMagic, host::kWireVersion, host::kWireSend, 0x7FFFFFF0u, kAdd, 1, 1};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), raw(&stranger, sizeof stranger));
    EXPECT_EQ(7, SendMessage(window_, kAdd, 3, 4)) << "still serving";
}

TEST_F(EndpointTest, AnotherUsersProcessIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    pid_t stranger = fork();
    ASSERT_GE(stranger, 0);
    if (stranger == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        int s = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = SocketPath();
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        // The folder is its owner's alone: no way in.
        _exit(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 1 : 0);
    }
    int status = 0;
    waitpid(stranger, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(0, SendMessage(window_, kTotal, 0, 0)) << "nothing reached the window";
}

TEST_F(EndpointTest, TenThousandMessagesFromSeveralProcessesAreAllServed) {
    constexpr int kSenders = 5, kEach = 2000;
    std::vector<pid_t> senders;
    for (int i = 0; i < kSenders; ++i) {
        pid_t p = fork();
        ASSERT_GE(p, 0);
        if (p == 0) {
            // Every fifth message waits for its answer; the rest are posted.
            int failures = 0;
            for (int n = 0; n < kEach; ++n) {
                if (n % 5 == 0)
                    failures += SendMessage(window_, kAdd, n, 1) != n + 1;
                else
                    failures += !PostMessage(window_, kCount, 0, 0);
            }
            _exit(failures == 0 ? 0 : 1);
        }
        senders.push_back(p);
    }
    for (pid_t p : senders) {
        int status = 0;
        waitpid(p, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(kSenders * kEach * 4 / 5, SendMessage(window_, kTotal, 0, 0));
}

}  // namespace
