/* A file server that stops answering, for the end-to-end tests: loaded with LD_PRELOAD,
 * it holds up opendir() of every folder under $ZORVANT_STALL_UNDER for as long as the file
 * $ZORVANT_STALL_CONTROL says: a number of seconds, or "forever" (until the file says
 * otherwise). Without the file nothing waits. Each wait is logged, as "waiting <folder>" and
 * "returning <folder>" lines, to the control file's name followed by ".log". */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static char under[PATH_MAX];
static char control[PATH_MAX];
static char logFile[PATH_MAX + 8];

/* Read once, while the program is still single-threaded: it sets variables of its own later,
 * and getenv() is not safe against a concurrent setenv(). */
__attribute__((constructor)) static void readEnvironment(void) {
    const char* root = getenv("ZORVANT_STALL_UNDER");
    const char* file = getenv("ZORVANT_STALL_CONTROL");
    if (!root || !file || strlen(root) >= sizeof under || strlen(file) >= sizeof control)
        return;
    strcpy(under, root);
    strcpy(control, file);
    snprintf(logFile, sizeof logFile, "%s.log", control);
}

static int isUnder(const char* name) {
    const size_t length = strlen(under);
    return length > 0 && strncmp(name, under, length) == 0 &&
           (name[length] == '/' || name[length] == '\0');
}

/* Seconds to wait, or -1 for ever. */
static double stallSeconds(void) {
    char text[64] = {0};
    const int fd = open(control, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n > 0 && strncmp(text, "forever", 7) == 0)
        return -1;
    return n > 0 ? atof(text) : 0;
}

static void logLine(const char* what, const char* name) {
    char line[PATH_MAX + 32];
    const int length = snprintf(line, sizeof line, "%s %s\n", what, name);
    const int fd = open(logFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (length > 0) {
        const ssize_t written = write(fd, line, (size_t)length);
        (void)written;
    }
    close(fd);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

DIR* opendir(const char* name) {
    DIR* (*realOpendir)(const char*) = (DIR * (*)(const char*)) dlsym(RTLD_NEXT, "opendir");
    if (isUnder(name) && stallSeconds() != 0) {
        logLine("waiting", name);
        const double start = now();
        for (;;) {
            const double seconds = stallSeconds();
            if (seconds >= 0 && now() - start >= seconds)
                break;
            const struct timespec pause = {0, 20 * 1000 * 1000};
            nanosleep(&pause, NULL);
        }
        logLine("returning", name);
    }
    return realOpendir(name);
}
