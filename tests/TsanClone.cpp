// Linked into the tests of ThreadSanitizer builds only. clang 14's ThreadSanitizer intercepts
// clone() and breaks when the child shares the parent's memory, as QProcess starts programs
// (CLONE_VM with vfork semantics): the child attaches to the parent's thread state and the
// parent then stops with "CHECK failed: tsan_rtl.cpp:234". Every test that starts rigctld,
// PulseAudio or vokey would end there. This clone() takes the interceptor's place (it is a
// weak symbol) and goes straight to the C library's; the child only sets up and calls exec.
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...)
{
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    va_list rest;
    va_start(rest, arg);
    pid_t* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    pid_t* childTid = va_arg(rest, pid_t*);
    va_end(rest);
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
