// Preloaded into the real programs by the end-to-end tests: a filesystem
// without unnamed files, as every FUSE filesystem is, so that the named
// temporary file runs in the suite. Every other open goes to the kernel.
#include <cerrno>
#include <cstdarg>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int openat(int dir, const char *path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, int) : 0;
    va_end(args);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(syscall(SYS_openat, dir, path, flags | O_LARGEFILE, mode));
}

// The name that programs built with 64-bit file offsets call.
extern "C" int openat64(int dir, const char *path, int flags, ...) __attribute__((alias("openat")));
