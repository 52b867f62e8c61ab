// Following the links from an output name to the file they end at.
#include "target.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace track {

namespace {

bool copy_name(char *out, std::size_t size, const char *text)
{
    if (std::snprintf(out, size, "%s", text) >= static_cast<int>(size)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Moves r.dir to path, relative to it. A directory the user may not read
// still serves to create files in, but cannot be synced.
bool enter_directory(replacement &r, const char *path)
{
    int fd = openat(r.dir, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool syncable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = openat(r.dir, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (r.dir >= 0)
        (void)close(r.dir);
    r.dir = fd;
    r.dir_syncable = syncable;
    return copy_name(r.shown_dir, sizeof r.shown_dir, path);
}

}  // namespace

bool find_target(replacement &r, const char *name, struct stat &st)
{
    r.dir = AT_FDCWD;
    if (!enter_directory(r, ".") || !copy_name(r.name, sizeof r.name, name))
        return false;
    // Forty links at most, as the kernel follows in one path.
    for (int hops = 0; hops <= 40; ++hops) {
        r.existed = fstatat(r.dir, r.name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!r.existed || !S_ISLNK(st.st_mode))
            return r.existed || errno == ENOENT;
        const ssize_t got = readlinkat(r.dir, r.name, r.link, sizeof r.link);
        if (got < 0)
            return false;
        if (static_cast<std::size_t>(got) == sizeof r.link) {
            errno = ENAMETOOLONG;
            return false;
        }
        r.link[got] = '\0';
        char *base = std::strrchr(r.link, '/');
        if (base == nullptr) {
            base = r.link;
        } else {
            *base++ = '\0';
            if (!enter_directory(r, r.link[0] == '\0' ? "/" : r.link))
                return false;
        }
        if (!copy_name(r.name, sizeof r.name, base[0] == '\0' ? "." : base))
            return false;
    }
    errno = ELOOP;
    return false;
}

}  // namespace track
