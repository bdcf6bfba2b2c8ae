/* A UART's modem lines for pseudo-terminal slaves, and the lines log of a program under test,
 * loaded with LD_PRELOAD: see modemlines.h. */
#define _GNU_SOURCE
#include "modemlines.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

/* From <asm/termbits.h>, which clashes with <sys/ioctl.h>'s termio types. */
#define TCSETS2_ 0x402C542B
#define TCSETSW2_ 0x402C542C
#define TCSETSF2_ 0x402C542D
#define HUPCL_ 0002000
#define CBAUD_ 0010017
#define BOTHER_ 0010000

struct termios2_ {
    unsigned c_iflag, c_oflag, c_cflag, c_lflag;
    unsigned char c_line;
    unsigned char c_cc[19];
    unsigned c_ispeed, c_ospeed;
};

enum { MAX_DEVICES = 64, MAX_FDS = 4096, MAX_LOG = 200000 };
enum { OUTPUTS = TIOCM_DTR | TIOCM_RTS, INPUTS = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD };

struct device {
    dev_t rdev;
    int used;
    int lines;
    int opens;
    int failing; /* output lines whose changes fail with EIO */
    struct serial_icounter_struct counts;
    uint32_t generation; /* futex word, bumped on each input change */
};

static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
static struct device g_devices[MAX_DEVICES];
static dev_t g_fdDevice[MAX_FDS]; /* device of an fd opened through open(), 0 if none */
static struct modemlines_event* g_log;
static int g_logSize;
static int g_miwait = 1;
static int g_icount = 1;
static int g_baudBase = 0;

static int (*real_open)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static int (*real_close)(int);
static int (*real_ioctl)(int, unsigned long, ...);
static char g_linesLog[4096]; /* VOKEY_LINES_LOG, read once before main */
static int g_linesLogTimes; /* VOKEY_LINES_LOG_TIMES=1: each line ends with its time */

__attribute__((constructor)) static void resolve(void)
{
    if (real_ioctl)
        return;
    real_open = dlsym(RTLD_NEXT, "open");
    real_openat = dlsym(RTLD_NEXT, "openat");
    real_close = dlsym(RTLD_NEXT, "close");
    real_ioctl = dlsym(RTLD_NEXT, "ioctl");
    const char* log = getenv("VOKEY_LINES_LOG");
    if (log)
        strncpy(g_linesLog, log, sizeof g_linesLog - 1);
    const char* times = getenv("VOKEY_LINES_LOG_TIMES");
    g_linesLogTimes = times && strcmp(times, "1") == 0;
}

/* Writes `value` in decimal at `out`; the number of digits. */
static size_t put_decimal(char* out, unsigned long long value)
{
    char digits[24];
    int d = 0;
    do
        digits[d++] = (char)('0' + value % 10);
    while ((value /= 10) != 0);
    size_t n = 0;
    while (d > 0)
        out[n++] = digits[--d];
    return n;
}

/* Appends "<call> <bits>" to the lines log ("failed-<call> <bits>" for a call that failed),
 * and " <CLOCK_MONOTONIC ns>" when asked for. Only async-signal-safe calls, and no lock: a
 * crash handler's drop of the lines is logged too. */
static void log_line_call(const char* call, int bits, int succeeded)
{
    if (!g_linesLog[0])
        return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[96];
    size_t n = 0;
    if (!succeeded) {
        memcpy(line, "failed-", 7);
        n = 7;
    }
    memcpy(line + n, call, strlen(call));
    n += strlen(call);
    line[n++] = ' ';
    n += put_decimal(line + n, (unsigned)bits);
    if (g_linesLogTimes) {
        line[n++] = ' ';
        n += put_decimal(line + n, (unsigned long long)now.tv_sec * 1000000000ULL + now.tv_nsec);
    }
    line[n++] = '\n';
    const int fd = real_open(g_linesLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const ssize_t written = write(fd, line, n);
        (void)written;
        real_close(fd);
    }
}

static int is_pty_slave(dev_t rdev)
{
    return major(rdev) >= 136 && major(rdev) <= 143;
}

static dev_t pty_of_fd(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !is_pty_slave(st.st_rdev))
        return 0;
    return st.st_rdev;
}

static dev_t pty_of_path(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode) || !is_pty_slave(st.st_rdev))
        return 0;
    return st.st_rdev;
}

/* Under g_mutex. */
static struct device* device_of(dev_t rdev)
{
    struct device* free_slot = NULL;
    for (int i = 0; i < MAX_DEVICES; ++i) {
        if (g_devices[i].used && g_devices[i].rdev == rdev)
            return &g_devices[i];
        if (!g_devices[i].used && !free_slot)
            free_slot = &g_devices[i];
    }
    if (!free_slot)
        abort();
    memset(free_slot, 0, sizeof *free_slot);
    free_slot->used = 1;
    free_slot->rdev = rdev;
    return free_slot;
}

/* Under g_mutex. */
static void log_event(const struct device* d, int line, int value, const char* cause)
{
    if (!g_log)
        g_log = calloc(MAX_LOG, sizeof *g_log);
    if (!g_log || g_logSize >= MAX_LOG)
        return;
    struct modemlines_event* e = &g_log[g_logSize++];
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    e->time_ns = (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
    e->device = d->rdev;
    e->line = line;
    e->value = value;
    strncpy(e->cause, cause, sizeof e->cause - 1);
}

/* Under g_mutex: sets the bits of mask to those of bits, logging and counting each change. */
static void change_lines(struct device* d, int mask, int bits, const char* cause)
{
    static const int order[] = { TIOCM_DTR, TIOCM_RTS, TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CD };
    int inputChanged = 0;
    for (unsigned i = 0; i < sizeof order / sizeof order[0]; ++i) {
        const int line = order[i];
        if (!(mask & line) || ((d->lines & line) != 0) == ((bits & line) != 0))
            continue;
        d->lines ^= line;
        const int up = (d->lines & line) != 0;
        log_event(d, line, up, cause);
        if (line == TIOCM_CTS)
            d->counts.cts++;
        else if (line == TIOCM_DSR)
            d->counts.dsr++;
        else if (line == TIOCM_CD)
            d->counts.dcd++;
        else if (line == TIOCM_RNG && !up)
            d->counts.rng++;
        inputChanged |= (line & INPUTS) != 0;
    }
    if (inputChanged) {
        __atomic_add_fetch(&d->generation, 1, __ATOMIC_SEQ_CST);
        syscall(SYS_futex, &d->generation, FUTEX_WAKE, INT32_MAX, NULL, NULL, 0);
    }
}

static void track_open(int fd)
{
    if (fd < 0 || fd >= MAX_FDS)
        return;
    const dev_t rdev = pty_of_fd(fd);
    if (!rdev)
        return;
    pthread_mutex_lock(&g_mutex);
    struct device* d = device_of(rdev);
    g_fdDevice[fd] = rdev;
    d->opens++;
    /* Linux raises DTR and RTS whenever a tty port is opened. */
    change_lines(d, OUTPUTS, OUTPUTS, "open");
    pthread_mutex_unlock(&g_mutex);
}

static mode_t mode_of(int flags, va_list args)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...)
{
    resolve();
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    const int fd = real_open(path, flags, mode);
    track_open(fd);
    return fd;
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int dir, const char* path, int flags, ...)
{
    resolve();
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    const int fd = real_openat(dir, path, flags, mode);
    track_open(fd);
    return fd;
}

int openat64(int dir, const char* path, int flags, ...) __attribute__((alias("openat")));

int close(int fd)
{
    resolve();
    if (fd >= 0 && fd < MAX_FDS && g_fdDevice[fd]) {
        unsigned int termios_words[16];
        const int hupcl = real_ioctl(fd, TCGETS, termios_words) == 0
            && (termios_words[2] & HUPCL_) != 0; /* c_cflag */
        pthread_mutex_lock(&g_mutex);
        struct device* d = device_of(g_fdDevice[fd]);
        g_fdDevice[fd] = 0;
        /* The last close hangs up: DTR and RTS drop when HUPCL is set. */
        if (--d->opens <= 0) {
            d->opens = 0;
            if (hupcl)
                change_lines(d, OUTPUTS, 0, "close");
        }
        pthread_mutex_unlock(&g_mutex);
    }
    return real_close(fd);
}

static int modem_wait(struct device* d, int mask)
{
    /* Under g_mutex on entry and exit. */
    const struct serial_icounter_struct was = d->counts;
    for (;;) {
        const struct serial_icounter_struct* now = &d->counts;
        if (((mask & TIOCM_CTS) && now->cts != was.cts)
            || ((mask & TIOCM_DSR) && now->dsr != was.dsr)
            || ((mask & TIOCM_RNG) && now->rng != was.rng)
            || ((mask & TIOCM_CD) && now->dcd != was.dcd))
            return 0;
        const uint32_t generation = __atomic_load_n(&d->generation, __ATOMIC_SEQ_CST);
        pthread_mutex_unlock(&g_mutex);
        /* A futex wait returns EINTR on a signal, as the kernel's modem wait does. */
        const long r = syscall(SYS_futex, &d->generation, FUTEX_WAIT, generation, NULL, NULL, 0);
        const int error = errno;
        pthread_mutex_lock(&g_mutex);
        if (r < 0 && error == EINTR) {
            errno = EINTR;
            return -1;
        }
    }
}

static int answer_ioctl(int fd, unsigned long request, void* arg);

int ioctl(int fd, unsigned long request, ...)
{
    resolve();
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);

    /* Every change asked for is logged once answered, whatever the device, with its result:
       a test checks what the call did, not only that it was made. */
    if (arg && (request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET)) {
        const int bits = *(const int*)arg;
        const int result = answer_ioctl(fd, request, arg);
        const int saved = errno;
        log_line_call(request == TIOCMBIS ? "TIOCMBIS"
                : request == TIOCMBIC     ? "TIOCMBIC"
                                          : "TIOCMSET",
            bits, result == 0);
        errno = saved;
        return result;
    }
    return answer_ioctl(fd, request, arg);
}

static int answer_ioctl(int fd, unsigned long request, void* arg)
{
    switch (request) {
    case TIOCMGET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
        break;
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
    case TCSETS2_:
    case TCSETSW2_:
    case TCSETSF2_: {
        struct termios2_ made;
        pthread_mutex_lock(&g_mutex);
        const int base = g_baudBase;
        pthread_mutex_unlock(&g_mutex);
        const int two = request == TCSETS2_ || request == TCSETSW2_ || request == TCSETSF2_;
        if (base > 0 && two && pty_of_fd(fd)
            && (((const struct termios2_*)arg)->c_cflag & CBAUD_) == BOTHER_) {
            /* As the 8250 driver: the nearest speed the divided clock makes is stored. */
            made = *(const struct termios2_*)arg;
            const unsigned asked = made.c_ospeed ? made.c_ospeed : 1;
            unsigned divisor = (base + asked / 2) / asked;
            if (divisor == 0)
                divisor = 1;
            made.c_ospeed = made.c_ispeed = base / divisor;
            arg = &made;
        }
        const int r = real_ioctl(fd, request, arg);
        const dev_t rdev = r == 0 ? pty_of_fd(fd) : 0;
        if (rdev) {
            pthread_mutex_lock(&g_mutex);
            log_event(device_of(rdev), 0, 1, "termios");
            pthread_mutex_unlock(&g_mutex);
        }
        return r;
    }
    default:
        return real_ioctl(fd, request, arg);
    }
    const dev_t rdev = pty_of_fd(fd);
    if (!rdev)
        return real_ioctl(fd, request, arg);
    /* A pseudo-terminal whose master is closed is hung up, as an unplugged USB adapter: the
       kernel answers its calls with EIO, and so do its modem lines here. */
    struct termios hungUp;
    if ((request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET)
        && real_ioctl(fd, TCGETS, &hungUp) < 0 && errno == EIO)
        return -1;

    int result = 0;
    pthread_mutex_lock(&g_mutex);
    struct device* d = device_of(rdev);
    switch (request) {
    case TIOCMGET:
        *(int*)arg = d->lines;
        break;
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
        if (d->failing & (request == TIOCMSET ? OUTPUTS : *(const int*)arg)) {
            errno = EIO;
            result = -1;
            break;
        }
        if (request == TIOCMBIS)
            change_lines(d, *(const int*)arg & OUTPUTS, OUTPUTS, "TIOCMBIS");
        else if (request == TIOCMBIC)
            change_lines(d, *(const int*)arg & OUTPUTS, 0, "TIOCMBIC");
        else
            change_lines(d, OUTPUTS, *(const int*)arg, "TIOCMSET");
        break;
    case TIOCMIWAIT:
        if (g_miwait)
            result = modem_wait(d, (int)(intptr_t)arg);
        else {
            errno = ENOTTY;
            result = -1;
        }
        break;
    case TIOCGICOUNT:
        if (g_icount)
            *(struct serial_icounter_struct*)arg = d->counts;
        else {
            errno = ENOTTY;
            result = -1;
        }
        break;
    }
    pthread_mutex_unlock(&g_mutex);
    return result;
}

/* The control interface. */

int modemlines_reset(const char* path)
{
    const dev_t rdev = pty_of_path(path);
    if (!rdev)
        return -1;
    pthread_mutex_lock(&g_mutex);
    struct device* d = device_of(rdev);
    d->lines = 0;
    d->failing = 0;
    memset(&d->counts, 0, sizeof d->counts);
    pthread_mutex_unlock(&g_mutex);
    return 0;
}

int modemlines_set_failing(const char* path, int lines)
{
    const dev_t rdev = pty_of_path(path);
    if (!rdev)
        return -1;
    pthread_mutex_lock(&g_mutex);
    device_of(rdev)->failing = lines & OUTPUTS;
    pthread_mutex_unlock(&g_mutex);
    return 0;
}

int modemlines_get(const char* path)
{
    const dev_t rdev = pty_of_path(path);
    if (!rdev)
        return -1;
    pthread_mutex_lock(&g_mutex);
    const int lines = device_of(rdev)->lines;
    pthread_mutex_unlock(&g_mutex);
    return lines;
}

int modemlines_set_inputs(const char* path, int bits)
{
    const dev_t rdev = pty_of_path(path);
    if (!rdev)
        return -1;
    pthread_mutex_lock(&g_mutex);
    change_lines(device_of(rdev), INPUTS, bits, "input");
    pthread_mutex_unlock(&g_mutex);
    return 0;
}

int modemlines_add_errors(
    const char* path, int frame, int parity, int overrun, int brk, int buf_overrun)
{
    const dev_t rdev = pty_of_path(path);
    if (!rdev)
        return -1;
    pthread_mutex_lock(&g_mutex);
    struct serial_icounter_struct* c = &device_of(rdev)->counts;
    c->frame += frame;
    c->parity += parity;
    c->overrun += overrun;
    c->brk += brk;
    c->buf_overrun += buf_overrun;
    pthread_mutex_unlock(&g_mutex);
    return 0;
}

void modemlines_set_baud_base(int base)
{
    pthread_mutex_lock(&g_mutex);
    g_baudBase = base;
    pthread_mutex_unlock(&g_mutex);
}

void modemlines_set_features(int miwait, int icount)
{
    pthread_mutex_lock(&g_mutex);
    g_miwait = miwait;
    g_icount = icount;
    pthread_mutex_unlock(&g_mutex);
}

int modemlines_log_size(void)
{
    pthread_mutex_lock(&g_mutex);
    const int size = g_logSize;
    pthread_mutex_unlock(&g_mutex);
    return size;
}

int modemlines_log_get(int index, struct modemlines_event* out)
{
    int result = -1;
    pthread_mutex_lock(&g_mutex);
    if (index >= 0 && index < g_logSize) {
        *out = g_log[index];
        result = 0;
    }
    pthread_mutex_unlock(&g_mutex);
    return result;
}

void modemlines_log_clear(void)
{
    pthread_mutex_lock(&g_mutex);
    g_logSize = 0;
    pthread_mutex_unlock(&g_mutex);
}
