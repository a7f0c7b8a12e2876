/* The floor for a running pelorn's per-tick CPU: a loop that does only the system calls a steady
 * headless pelorn makes in a tick (strace -c -p PID): one poll over its four wake sources until
 * the next 1.5 s tick, and two small reads of the registry file's header (one a turn: the tick's,
 * and the look the log takes after it). Nothing else.
 *
 *   tick_floor FILE     (FILE: any file to read; resident.sh gives it a registry) */
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    int file = open(argv[1], O_RDONLY | O_CLOEXEC);
    int pipes[2], sockets[2];
    if (file < 0 || pipe(pipes) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) return 1;
    struct pollfd fds[4] = {{pipes[0], POLLIN, 0}, {sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0},
                            {timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC), POLLIN, 0}};
    unsigned char header[4];
    for (;;) {
        poll(fds, 4, 1500);
        for (int i = 0; i < 2; ++i)
            if (pread(file, header, sizeof header, 24) < 0) return 1;
    }
}
