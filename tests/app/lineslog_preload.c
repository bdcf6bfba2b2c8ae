/* Test helper, loaded into the vokey program with LD_PRELOAD: appends one line
 * "<call> <bits>" to the file named by VOKEY_LINES_LOG for every modem-line ioctl (TIOCMBIS,
 * TIOCMBIC, TIOCMSET), then makes the real call. Only async-signal-safe calls are used on the
 * way, so the lines a crash handler drops are logged too. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);
static ioctl_fn real_ioctl;
static char log_path[4096];

__attribute__((constructor)) static void lineslog_init(void)
{
    real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    const char* path = getenv("VOKEY_LINES_LOG");
    if (path)
        strncpy(log_path, path, sizeof log_path - 1);
}

static void append(const char* call, int bits)
{
    if (!log_path[0])
        return;
    char line[64];
    size_t n = strlen(call);
    memcpy(line, call, n);
    line[n++] = ' ';
    char digits[16];
    int d = 0;
    unsigned value = (unsigned)bits;
    do
        digits[d++] = (char)('0' + value % 10);
    while ((value /= 10) != 0);
    while (d > 0)
        line[n++] = digits[--d];
    line[n++] = '\n';
    const int fd = open(log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ssize_t written = write(fd, line, n);
        (void)written;
        close(fd);
    }
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (argument && (request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET))
        append(request == TIOCMBIS    ? "TIOCMBIS"
                : request == TIOCMBIC ? "TIOCMBIC"
                                      : "TIOCMSET",
            *(const int*)argument);
    return real_ioctl(fd, request, argument);
}
