/* The floor for a running pelorn's per-tick CPU: a loop that does only the system calls a steady
 * headless pelorn makes in a tick (strace -p PID): one poll over its three wake sources until the
 * next 1.5 s tick, and two turns' read locks, each one byte taken shared and let go again (the
 * tick's snapshot of the registry, and the look the log takes after it). Nothing else.
 *
 *   tick_floor FILE     (FILE: a file of its own to lock; it is made when missing) */
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

static int Lock(int file, short type) {
    struct flock byte = {.l_type = type, .l_whence = SEEK_SET, .l_start = 124, .l_len = 1};
    return fcntl(file, F_SETLK, &byte);
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    int file = open(argv[1], O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    int pipes[2], sockets[2];
    if (file < 0 || pipe(pipes) != 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) != 0) return 1;
    struct pollfd fds[3] = {{pipes[0], POLLIN, 0}, {sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
    for (;;) {
        poll(fds, 3, 1500);
        for (int turn = 0; turn < 2; ++turn)
            if (Lock(file, F_RDLCK) != 0 || Lock(file, F_UNLCK) != 0) return 1;
    }
}
