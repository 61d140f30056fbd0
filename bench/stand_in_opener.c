/* Stands in for xdg-open in the return bench: the first thing it does is note the time, on
 * the monotonic clock, in the file that ZORVANT_BENCH_STAMPS names. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char* stamps = getenv("ZORVANT_BENCH_STAMPS");
    const int fd = stamps ? open(stamps, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (fd < 0)
        return 1;
    dprintf(fd, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    return close(fd) == 0 ? 0 : 1;
}
