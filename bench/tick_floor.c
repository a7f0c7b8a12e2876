/* The floor for a running pelorn's per-tick CPU: a loop that sleeps in one poll until the next
 * 1.5 s tick and writes one log line, as a steady headless pelorn does, and nothing else. */
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void) {
    char line[64];
    for (unsigned long n = 0;; ++n) {
        poll(NULL, 0, 1500);
        int len = snprintf(line, sizeof line, "%10.3f  tray: icon %d (a square)\n", n * 1.5, 130 + (int)(n & 1));
        if (write(STDOUT_FILENO, line, (size_t)len) < 0) return 1;
    }
}
