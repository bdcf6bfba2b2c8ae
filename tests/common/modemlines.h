/* Modem lines for pseudo-terminals, for tests.
 *
 * Pseudo-terminals have no modem lines: the kernel refuses TIOCMGET, TIOCMBIS, TIOCMBIC,
 * TIOCMSET, TIOCMIWAIT and TIOCGICOUNT on them. The shared library vokey_modemlines_preload,
 * loaded into a test with LD_PRELOAD, answers those calls for pseudo-terminal slaves
 * (/dev/pts/N) from a model of a UART: DTR and RTS (outputs), CTS, DSR, RI and CD (inputs
 * the test drives) and the error counters. As Linux does with a real UART, every open() of a
 * slave raises DTR and RTS, and the last close drops them when HUPCL is set. Each line change
 * is logged with a CLOCK_MONOTONIC time stamp, and so is each termios write (TCSETS*), as
 * line 0, so that a test can tell what happened before the settings were applied.
 *
 * A program that the process tests run cannot be asked for that log: when VOKEY_LINES_LOG
 * names a file, the library also appends a line "<call> <bits>" to it for every TIOCMBIS,
 * TIOCMBIC and TIOCMSET on any device once it is answered, "failed-<call> <bits>" for one
 * that failed (LinesLog.h reads it; ProgramProcess.h sets both variables). That logging uses
 * async-signal-safe calls only, so the lines a crash handler drops are logged too. With
 * VOKEY_LINES_LOG_TIMES=1 as well, each line ends with a third field, the call's
 * CLOCK_MONOTONIC time in nanoseconds.
 *
 * Using it from a test folder's CMakeLists.txt:
 *     vokey_tests(LIBS ...)
 *     set_tests_properties(tst_mytest PROPERTIES ENVIRONMENT
 *         "QT_QPA_PLATFORM=offscreen;LD_PRELOAD=$<TARGET_FILE:vokey_modemlines_preload>")
 *     add_dependencies(tst_mytest vokey_modemlines_preload)
 * and in the test: #include "common/modemlines.h". The functions below are weak references
 * that the preloaded library satisfies; modemlines_loaded() says whether it is there (QSKIP
 * otherwise). Devices are named by path (ptsname() of the master, or a symlink to it).
 * Call modemlines_reset() on a fresh pseudo-terminal: the kernel reuses their numbers.
 */
#ifndef VOKEY_TESTS_COMMON_MODEMLINES_H
#define VOKEY_TESTS_COMMON_MODEMLINES_H

#include <sys/ioctl.h> /* TIOCM_DTR, TIOCM_RTS, TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CD */

#ifdef __cplusplus
extern "C" {
#endif

struct modemlines_event {
    long long time_ns; /* CLOCK_MONOTONIC */
    unsigned long long device; /* st_rdev of the slave */
    int line; /* one TIOCM_* bit, or 0 for a termios write */
    int value; /* 1 raised, 0 dropped */
    char cause[12]; /* "open", "close", "TIOCMBIS", "TIOCMBIC", "TIOCMSET", "input", "termios" */
};

/* Forgets the device's state: all lines low, counters 0. 0, or -1 when the path is no pty. */
int modemlines_reset(const char* path) __attribute__((weak));
/* Makes every change of these output lines (TIOCM_DTR, TIOCM_RTS) fail with EIO, as a
   device that went away does; 0 ends it (so does modemlines_reset). 0, or -1. */
int modemlines_set_failing(const char* path, int lines) __attribute__((weak));
/* The device's lines as TIOCM_* bits, or -1. */
int modemlines_get(const char* path) __attribute__((weak));
/* Sets the input lines (TIOCM_CTS, TIOCM_DSR, TIOCM_RNG, TIOCM_CD in bits; others ignored).
   Counts the changes as a UART does (a ring when RI falls) and wakes TIOCMIWAIT. */
int modemlines_set_inputs(const char* path, int bits) __attribute__((weak));
/* Adds to the error counters TIOCGICOUNT reports. A real error comes with a received byte:
   write one to the master as well. */
int modemlines_add_errors(const char* path, int frame, int parity, int overrun, int brk,
    int buf_overrun) __attribute__((weak));
/* Whether TIOCMIWAIT and TIOCGICOUNT are answered (1, the default) or fail with ENOTTY (0),
   as with drivers that lack them. Applies to calls made from now on. */
void modemlines_set_features(int miwait, int icount) __attribute__((weak));
/* Makes speeds set with BOTHER (TCSETS2) what a UART whose clock gives base bit/s at divisor 1
   makes of them: base divided by the rounded divisor, stored in their place as the 8250 driver
   does. 0 (the default) stores any speed. */
void modemlines_set_baud_base(int base) __attribute__((weak));
/* The log: its size, one entry (0, or -1 outside), and emptying it. */
int modemlines_log_size(void) __attribute__((weak));
int modemlines_log_get(int index, struct modemlines_event* out) __attribute__((weak));
void modemlines_log_clear(void) __attribute__((weak));

static inline int modemlines_loaded(void)
{
    return modemlines_get != 0;
}

#ifdef __cplusplus
}
#endif

#endif
