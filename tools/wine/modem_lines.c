// Preloaded into Wine for the tests: a pseudo-terminal has no modem lines, so Wine's modem-line
// ioctls fail on it and its serial event wait gives up at once. Where the real call fails on a
// terminal, this answers as a port with DSR, CTS and carrier up would, and logs what the program
// did to DTR and RTS (to $PELORN_MODEM_LOG, one line per change).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int lines = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;

static void log_lines(const char* what, int bits) {
    const char* path = getenv("PELORN_MODEM_LOG");
    if (!path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    fprintf(f, "%s%s%s\n", what, (bits & TIOCM_DTR) ? " DTR" : "", (bits & TIOCM_RTS) ? " RTS" : "");
    fclose(f);
}

typedef int (*ioctl_fn)(int, unsigned long, ...);

static int answer(ioctl_fn real, int fd, unsigned long request, void* arg) {
    int result = real(fd, request, arg);
    if (result == 0 || !isatty(fd)) return result;
    switch (request) {
        case TIOCMGET:
            *(int*)arg = lines;
            return 0;
        case TIOCMSET:
            lines = *(const int*)arg;
            log_lines("set", lines);
            return 0;
        case TIOCMBIS:
            lines |= *(const int*)arg;
            log_lines("raise", *(const int*)arg);
            return 0;
        case TIOCMBIC:
            lines &= ~*(const int*)arg;
            log_lines("lower", *(const int*)arg);
            return 0;
        default:
            return result;
    }
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return answer(real, fd, request, arg);
}

#ifndef __LP64__
// 32-bit programs built with a 64-bit time_t, 32-bit Wine among them, call this one instead.
int __ioctl_time64(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return answer(real, fd, request, arg);
}
#endif
