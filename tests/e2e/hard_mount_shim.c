/* A file server that stops answering, for the end-to-end tests: loaded with LD_PRELOAD, it
 * holds up the calls that would reach the server, as a hard NFS or CIFS mount does, for every
 * path under $ZORVANT_STALL_UNDER. The file $ZORVANT_STALL_CONTROL says which calls and for
 * how long; a duration is a number of seconds, or "forever" (until the file says otherwise):
 *   "<duration>"                 opendir() only: a slow or stalled listing
 *   "hard <duration>"            every call below: the server is gone
 *   "after-listing <duration>"   the stat family, statx, access, open and realpath; listings
 *                                (opendir, readdir) still answer
 *   "readdir <duration>"         readdir() only: listings open but never return an entry
 * Without the file, or with a duration of 0, nothing waits. The file is read again while a call
 * waits, so that a test can release it. Each call under the prefix is logged, to the control
 * file's name followed by ".log", as "waiting <call> <path>" and "returning <call> <path>" when
 * held up, "passing <call> <path>" when not: a test can tell that the program's calls were
 * caught at all. The calls are those that Zorvant, Qt and libstdc++ import (nm -D); glibc 2.36
 * no longer routes stat() through __xstat(). */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

enum Calls { kOpendir = 1, kReaddir = 2, kLookup = 4, kEvery = kOpendir | kReaddir | kLookup };

struct Stall {
    int calls;
    double seconds; /* -1: for ever */
};

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

/* The next definition of a symbol, looked up once. errno survives the lookup: a call that
 * succeeds must leave it as it was (readdir() tells the end of a folder that way). */
static void* next(void** slot, const char* name) {
    void* found = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (!found) {
        const int saved = errno;
        found = dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, found, __ATOMIC_RELEASE);
        errno = saved;
    }
    return found;
}

#define REAL(name)                                                                                 \
    ({                                                                                             \
        static void* slot;                                                                         \
        (__typeof__(&name))next(&slot, #name);                                                     \
    })

static int isUnder(const char* name) {
    const size_t length = strlen(under);
    return length > 0 && name && strncmp(name, under, length) == 0 &&
           (name[length] == '/' || name[length] == '\0');
}

/* The shim's own files are opened by system call, never through the open() below. */
static int openFile(const char* name, int flags) {
    return (int)syscall(SYS_openat, AT_FDCWD, name, flags | O_CLOEXEC, 0644);
}

static struct Stall readControl(void) {
    struct Stall stall = {0, 0};
    char text[64] = {0};
    const int fd = openFile(control, O_RDONLY);
    if (fd < 0)
        return stall;
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return stall;
    const char* duration = text;
    static const struct {
        const char* word;
        int calls;
    } modes[] = {{"hard ", kEvery}, {"after-listing ", kLookup}, {"readdir ", kReaddir}};
    stall.calls = kOpendir;
    for (size_t i = 0; i < sizeof modes / sizeof *modes; ++i) {
        if (strncmp(text, modes[i].word, strlen(modes[i].word)) == 0) {
            stall.calls = modes[i].calls;
            duration = text + strlen(modes[i].word);
        }
    }
    stall.seconds = strncmp(duration, "forever", 7) == 0 ? -1 : atof(duration);
    return stall;
}

static void logLine(const char* what, const char* call, const char* name) {
    char line[PATH_MAX + 64];
    const int length = snprintf(line, sizeof line, "%s %s %s\n", what, call, name);
    const int fd = openFile(logFile, O_WRONLY | O_APPEND | O_CREAT);
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

static int holds(struct Stall stall, int calls) {
    return (stall.calls & calls) && stall.seconds != 0;
}

/* Waits while the control file holds up this kind of call, for as long as it says. */
static void hold(int calls, const char* call, const char* name) {
    if (!isUnder(name))
        return;
    const int saved = errno;
    struct Stall stall = readControl();
    if (!holds(stall, calls)) {
        logLine("passing", call, name);
        errno = saved;
        return;
    }
    logLine("waiting", call, name);
    const double start = now();
    while (holds(stall, calls) && (stall.seconds < 0 || now() - start < stall.seconds)) {
        const struct timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, NULL);
        stall = readControl();
    }
    logLine("returning", call, name);
    errno = saved;
}

/* The name of a folder the process has open. */
static const char* openName(int fd, char* name, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, name, size - 1);
    name[length > 0 ? length : 0] = '\0';
    return name;
}

/* A path that a *at() call takes relative to a folder, made absolute; as given when it cannot
 * be. */
static const char* absolute(int dirfd, const char* path, char* name, size_t size) {
    if (!path || path[0] == '/')
        return path;
    const int saved = errno;
    if (dirfd == AT_FDCWD) {
        if (!getcwd(name, size))
            name[0] = '\0';
    } else {
        openName(dirfd, name, size);
    }
    const size_t length = strlen(name);
    if (path[0] != '\0' && length > 0 && length + 1 + strlen(path) < size)
        snprintf(name + length, size - length, "/%s", path);
    errno = saved;
    return name[0] ? name : path;
}

#define HOLD_AT(calls, call, dirfd, path)                                                          \
    do {                                                                                           \
        char name[PATH_MAX];                                                                       \
        hold(calls, call, absolute(dirfd, path, name, sizeof name));                               \
    } while (0)

static int needsMode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

int stat(const char* path, struct stat* info) {
    hold(kLookup, "stat", path);
    return REAL(stat)(path, info);
}

int stat64(const char* path, struct stat64* info) {
    hold(kLookup, "stat64", path);
    return REAL(stat64)(path, info);
}

int lstat(const char* path, struct stat* info) {
    hold(kLookup, "lstat", path);
    return REAL(lstat)(path, info);
}

int lstat64(const char* path, struct stat64* info) {
    hold(kLookup, "lstat64", path);
    return REAL(lstat64)(path, info);
}

int fstatat(int dirfd, const char* path, struct stat* info, int flags) {
    HOLD_AT(kLookup, "fstatat", dirfd, path);
    return REAL(fstatat)(dirfd, path, info, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* info, int flags) {
    HOLD_AT(kLookup, "fstatat64", dirfd, path);
    return REAL(fstatat64)(dirfd, path, info, flags);
}

int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* info) {
    HOLD_AT(kLookup, "statx", dirfd, path);
    return REAL(statx)(dirfd, path, flags, mask, info);
}

int access(const char* path, int mode) {
    hold(kLookup, "access", path);
    return REAL(access)(path, mode);
}

int faccessat(int dirfd, const char* path, int mode, int flags) {
    HOLD_AT(kLookup, "faccessat", dirfd, path);
    return REAL(faccessat)(dirfd, path, mode, flags);
}

char* realpath(const char* path, char* resolved) {
    hold(kLookup, "realpath", path);
    return REAL(realpath)(path, resolved);
}

#define OPEN_MODE(flags, last)                                                                     \
    ({                                                                                             \
        mode_t mode = 0;                                                                           \
        if (needsMode(flags)) {                                                                    \
            va_list arguments;                                                                     \
            va_start(arguments, last);                                                             \
            mode = va_arg(arguments, mode_t);                                                      \
            va_end(arguments);                                                                     \
        }                                                                                          \
        mode;                                                                                      \
    })

int open(const char* path, int flags, ...) {
    const mode_t mode = OPEN_MODE(flags, flags);
    hold(kLookup, "open", path);
    return REAL(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    const mode_t mode = OPEN_MODE(flags, flags);
    hold(kLookup, "open64", path);
    return REAL(open64)(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    const mode_t mode = OPEN_MODE(flags, flags);
    HOLD_AT(kLookup, "openat", dirfd, path);
    return REAL(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    const mode_t mode = OPEN_MODE(flags, flags);
    HOLD_AT(kLookup, "openat64", dirfd, path);
    return REAL(openat64)(dirfd, path, flags, mode);
}

DIR* opendir(const char* path) {
    hold(kOpendir, "opendir", path);
    return REAL(opendir)(path);
}

/* A folder's entries come from the server too: the folder's name is asked of the kernel, as
 * the handle does not keep it. */
#define HOLD_READDIR(call, folder)                                                                 \
    do {                                                                                           \
        if (under[0]) {                                                                            \
            char name[PATH_MAX];                                                                   \
            const int saved = errno;                                                               \
            openName(dirfd(folder), name, sizeof name);                                            \
            errno = saved;                                                                         \
            hold(kReaddir, call, name);                                                            \
        }                                                                                          \
    } while (0)

struct dirent* readdir(DIR* folder) {
    HOLD_READDIR("readdir", folder);
    return REAL(readdir)(folder);
}

struct dirent64* readdir64(DIR* folder) {
    HOLD_READDIR("readdir64", folder);
    return REAL(readdir64)(folder);
}
