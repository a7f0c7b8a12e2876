/* The floor for a running pelorn's per-tick CPU: a loop that does only the system calls a steady
 * headless pelorn makes in a tick (strace -c -p PID): one poll over its four wake sources until
 * the next 1.5 s tick, three small reads of the registry file's header, a read lock taken and
 * given back, one stat, and a log line every tenth tick. Nothing else.
 *
 *   tick_floor FILE     (FILE: any file to read and lock; tick_cpu.sh gives it a registry) */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    int file = open(argv[1], O_RDONLY | O_CLOEXEC);
    int pipes[2], sockets[2];
    if (file < 0 || pipe(pipes) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) return 1;
    struct pollfd fds[4] = {{pipes[0], POLLIN, 0}, {sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0},
                            {timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC), POLLIN, 0}};
    char line[64];
    unsigned char header[4];
    struct stat st;
    for (unsigned long n = 0;; ++n) {
        poll(fds, 4, 1500);
        for (int i = 0; i < 3; ++i)
            if (pread(file, header, sizeof header, 24) < 0) return 1;
        struct flock lock = {.l_type = F_RDLCK, .l_whence = SEEK_SET, .l_start = 1073741824, .l_len = 1};
        fcntl(file, F_SETLK, &lock);
        lock.l_type = F_UNLCK;
        fcntl(file, F_SETLK, &lock);
        fstatat(AT_FDCWD, argv[1], &st, AT_SYMLINK_NOFOLLOW);
        if (n % 10 == 0) {
            int len = snprintf(line, sizeof line, "%10.3f  tray: icon %d (a square)\n", n * 1.5, 130 + (int)(n & 1));
            if (write(STDOUT_FILENO, line, (size_t)len) < 0) return 1;
        }
    }
}
