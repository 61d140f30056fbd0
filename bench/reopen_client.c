/* The hotkey bench's baseline: the least a later launch has to do, in C. It sends the same
 * reopen request to the running instance and waits for its answer. */
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(void) {
    const char* folder = getenv("XDG_RUNTIME_DIR");
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    if (!folder || strlen(folder) + sizeof "/zorvant.socket" > sizeof address.sun_path)
        return 2;
    strcpy(address.sun_path, folder);
    strcat(address.sun_path, "/zorvant.socket");
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (const struct sockaddr*)&address, sizeof address) != 0)
        return 1;
    if (write(fd, "reopen\n", 7) != 7)
        return 1;
    char answer[3];
    return read(fd, answer, sizeof answer) == 3 && memcmp(answer, "ok\n", 3) == 0 ? 0 : 1;
}
