/* The floor for a durable registry write: one pwrite of SIZE bytes and one fdatasync, the least a
 * commit can cost on this disk. Prints the mean in milliseconds over COUNT rounds.
 *
 *   sync_floor FILE [SIZE [COUNT]]     (defaults: 4096 bytes, 50 rounds) */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    size_t size = argc > 2 ? (size_t)atol(argv[2]) : 4096;
    int count = argc > 3 ? atoi(argv[3]) : 50;
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    char* bytes = malloc(size);
    if (fd < 0 || !bytes || count < 1) return 1;
    memset(bytes, 0xab, size);
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    for (int i = 0; i < count; ++i)
        if (pwrite(fd, bytes, size, 0) != (ssize_t)size || fdatasync(fd) != 0) return 1;
    clock_gettime(CLOCK_MONOTONIC, &b);
    printf("%.3f\n", ((b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6) / count);
    close(fd);
    unlink(argv[1]);
    return 0;
}
