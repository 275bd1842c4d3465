// Linked into the test programs of the ThreadSanitizer build only.
//
// Qt starts programs with clone(CLONE_VM | CLONE_VFORK). ThreadSanitizer's
// hook on clone runs its after-fork bookkeeping in the child, and with
// CLONE_VM the child's memory is the parent's own: the parent's picture of
// its threads and locks is reset under it (races reported on data that is
// always guarded, deaths for "starting new threads after multi-threaded
// fork"). Such a child does nothing but exec, so the test programs' clone
// goes straight to the C library's, past the hook.
#include <dlfcn.h>
#include <sys/types.h>

#include <cstdarg>

namespace {
using CloneFunction = int (*)(int (*)(void *), void *, int, void *, ...);

CloneFunction libcClone()
{
    static const CloneFunction real = [] {
        void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
        return libc ? reinterpret_cast<CloneFunction>(dlsym(libc, "clone")) : nullptr;
    }();
    return real;
}
} // namespace

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    return libcClone()(fn, stack, flags, arg, parentTid, tls, childTid);
}
