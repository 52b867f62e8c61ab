#include "replace.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "report.h"
#include "signals.h"
#include "target.h"

namespace track {

namespace {

// A descriptor closed with its scope; -2 for none.
struct descriptor {
    int fd;
    explicit descriptor(int f) : fd(f) {}
    descriptor(const descriptor &) = delete;
    descriptor &operator=(const descriptor &) = delete;
    ~descriptor()
    {
        if (fd >= 0)
            (void)close(fd);
    }
};

bool fail(replacement &r, replace_step step = replace_step::other)
{
    if (r.error == 0) {
        r.error = errno != 0 ? errno : EIO;
        r.failed = step;
    }
    replace_abandon(r);
    return false;
}

// Gives the new contents a fresh temporary name in r.temp through make,
// which fails with EEXIST where the name is taken. The name is pending, for
// the signal handler, from the moment it exists.
bool name_temp(replacement &r, bool (*make)(replacement &))
{
    for (unsigned tries = 1; tries <= 100; ++tries) {
        timespec now{};
        (void)clock_gettime(CLOCK_MONOTONIC, &now);
        const unsigned tag =
            static_cast<unsigned>(now.tv_nsec) ^ (static_cast<unsigned>(getpid()) << 12) ^ (tries * 0x9e3779b9u);
        // The whole name where it fits, its start where it would not.
        (void)std::snprintf(r.temp, sizeof r.temp, ".%.*s.%06x", NAME_MAX - 8, r.name, tag & 0xffffffu);
        const signals_held held;
        if (make(r)) {
            set_pending(r.dir, r.temp);
            r.named = true;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool create_named(replacement &r)
{
    r.fd = openat(r.dir, r.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, r.mode);
    return r.fd >= 0;
}

bool link_unnamed(replacement &r)
{
    // Naming a file by its descriptor needs a privilege that /proc does not.
    char proc_path[32];
    (void)std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", r.fd);
    return linkat(r.fd, "", r.dir, r.temp, AT_EMPTY_PATH) == 0 ||
           (errno != EEXIST && linkat(AT_FDCWD, proc_path, r.dir, r.temp, AT_SYMLINK_FOLLOW) == 0);
}

}  // namespace

replacement::~replacement()
{
    replace_abandon(*this);
}

bool replace_begin(replacement &r, const char *name)
{
    // The kernel decides whether this user may write the output, following
    // links by its own rules, as for a plain write: a file they may not
    // write stays as it is. The probe changes nothing.
    r.fd = open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    struct stat opened {};
    if (r.fd >= 0 ? fstat(r.fd, &opened) != 0 : errno != ENOENT)
        return fail(r);
    if (r.fd >= 0 && !S_ISREG(opened.st_mode)) {
        r.in_place = true;
        return true;
    }
    struct stat st {};
    if (!find_target(r, name, st))
        return fail(r);
    if (r.existed != (r.fd >= 0) || (r.existed && (st.st_dev != opened.st_dev || st.st_ino != opened.st_ino))) {
        errno = EAGAIN;  // the links changed under us
        return fail(r);
    }
    if (r.fd >= 0)
        (void)close(r.fd);
    r.fd = -1;
    r.mode = r.existed ? st.st_mode & 07777 : 0666;
    r.owner = st.st_uid;
    r.group = st.st_gid;
    // Created with its final mode less the umask, the new file is never
    // more open than the old one, whatever the filesystem lets us change.
    // An unnamed file leaves nothing behind, however the program ends.
    r.fd = openat(r.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, r.mode);
    if (r.fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        (void)name_temp(r, create_named);
    return r.fd >= 0 || fail(r, replace_step::create);
}

bool replace_write(replacement &r, const void *data, std::size_t size)
{
    const auto *at = static_cast<const char *>(data);
    while (size != 0) {
        const ssize_t done = write(r.fd, at, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return fail(r);
        }
        at += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool replace_commit(replacement &r)
{
    if (r.in_place) {
        const int fd = r.fd;
        r.fd = -1;
        return close(fd) == 0 || fail(r);
    }
    // The old file's owner (only root may give it back) and the bits the
    // umask took off, where the filesystem keeps them; FAT, exFAT and some
    // FUSE and network filesystems refuse, and the file keeps what it has.
    if (r.existed) {
        (void)!fchown(r.fd, r.owner, r.group);
        (void)!fchmod(r.fd, r.mode);
    }
    // The contents must be on disk before a name points at them, or a crash
    // could leave an empty file where the old one was. EINVAL: this file
    // cannot be synced at all, so there is nothing to wait for.
    if (fsync(r.fd) != 0 && errno != EINVAL)
        return fail(r);
    if (!r.named && !name_temp(r, link_unnamed))
        return fail(r, replace_step::create);
    // A directory the user may not read cannot be opened to be synced: then
    // the whole filesystem is, through a descriptor kept on the new file.
    const descriptor kept{r.dir_syncable ? -2 : dup(r.fd)};
    if (kept.fd == -1)
        return fail(r);
    const int fd = r.fd;
    r.fd = -1;
    if (close(fd) != 0)
        return fail(r);
    {
        const signals_held held;
        if (renameat(r.dir, r.temp, r.dir, r.name) != 0) {
            const int saved = errno;
            struct stat dir {};
            r.sticky = fstat(r.dir, &dir) == 0 && (dir.st_mode & S_ISVTX) != 0;
            errno = saved;
            return fail(r, replace_step::rename);
        }
        set_pending(r.dir, "");
        r.named = false;
    }
    // The rename itself must reach the disk before success is reported.
    const int synced = r.dir_syncable ? fsync(r.dir) : syncfs(kept.fd);
    if (synced != 0 && errno != EINVAL)
        return fail(r);
    replace_abandon(r);
    return true;
}

void replace_abandon(replacement &r)
{
    if (r.fd >= 0)
        (void)close(r.fd);
    r.fd = -1;
    if (r.named) {
        const signals_held held;
        (void)unlinkat(r.dir, r.temp, 0);
        set_pending(r.dir, "");
        r.named = false;
    }
    if (r.dir >= 0)
        (void)close(r.dir);
    r.dir = -1;
}

void report_replace_failure(const char *program, const char *name, const replacement &r)
{
    const char *reason = std::strerror(r.error);
    switch (r.failed) {
    case replace_step::create:
        report(program, "cannot write %s: cannot create a file in '%s': %s", name, r.shown_dir, reason);
        break;
    case replace_step::rename:
        report(program, "cannot write %s: the old file cannot be replaced: %s%s", name, reason,
               r.error == EBUSY               ? " (it is a mount point)"
               : r.error == EPERM && r.sticky ? " (in a sticky directory only the file's owner may replace it)"
                                              : "");
        break;
    case replace_step::other:
        report(program, "cannot write %s: %s", name, reason);
        break;
    }
}

}  // namespace track
