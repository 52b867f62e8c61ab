#include "replace.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace track {

namespace {

// The temporary file being written, for the signal handler: a handler can
// reach nothing but static storage. It is only changed with the signals
// blocked, and only one replacement runs at a time.
char pending_temp[PATH_MAX];

constexpr int fatal_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_pending_and_die(int sig)
{
    if (pending_temp[0] != '\0')
        (void)unlink(pending_temp);
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);  // delivered when the handler returns
}

sigset_t fatal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : fatal_signals)
        sigaddset(&set, sig);
    return set;
}

void install_handlers()
{
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    action.sa_mask = fatal_set();
    for (int sig : fatal_signals) {
        struct sigaction old {};
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        (void)sigaction(sig, &action, nullptr);
    }
    // Past a file-size limit a write should fail with EFBIG and be reported,
    // not kill the program before it can remove its temporary file.
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

// Runs with the fatal signals held back, so that the handler never sees a
// half-made change to pending_temp or a temporary file that it cannot name.
class signals_held {
public:
    signals_held()
    {
        sigset_t set = fatal_set();
        (void)sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~signals_held() { (void)sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    signals_held(const signals_held &) = delete;
    signals_held &operator=(const signals_held &) = delete;

private:
    sigset_t saved_{};
};

bool copy_path(char *out, const char *text, std::size_t length)
{
    if (length >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

// The length of the directory part of path, with its slash (0 for none).
std::size_t directory_length(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// Follows symbolic links from name to the file they end at, which need not
// exist yet. Fills st for an existing file and sets exists.
bool resolve_target(const char *name, char *path, struct stat &st, bool &exists)
{
    if (!copy_path(path, name, std::strlen(name)))
        return false;
    for (int hops = 0;; ++hops) {
        if (lstat(path, &st) != 0) {
            if (errno != ENOENT)
                return false;
            exists = false;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return true;
        }
        if (hops == 40) {
            errno = ELOOP;
            return false;
        }
        char link[PATH_MAX];
        ssize_t got = readlink(path, link, sizeof link);
        if (got < 0)
            return false;
        auto length = static_cast<std::size_t>(got);
        if (length == sizeof link) {
            errno = ENAMETOOLONG;
            return false;
        }
        // A relative link is relative to the directory that holds it.
        std::size_t keep = link[0] == '/' ? 0 : directory_length(path);
        if (keep + length >= PATH_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(path + keep, link, length);
        path[keep + length] = '\0';
    }
}

bool fail(replacement &r)
{
    if (r.error == 0)
        r.error = errno != 0 ? errno : EIO;
    replace_abandon(r);
    return false;
}

}  // namespace

replacement::~replacement()
{
    replace_abandon(*this);
}

bool replace_begin(replacement &r, const char *name, const char *mode)
{
    install_handlers();
    struct stat st {};
    if (!resolve_target(name, r.target, st, r.existed))
        return fail(r);
    if (r.existed && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return fail(r);
    }
    if (r.existed && !S_ISREG(st.st_mode)) {
        r.file = std::fopen(r.target, mode);
        return r.file != nullptr || fail(r);
    }
    if (r.existed) {
        r.mode = st.st_mode & 07777;
        r.owner = st.st_uid;
        r.group = st.st_gid;
    } else {
        mode_t mask = umask(0);
        (void)umask(mask);
        r.mode = 0666 & ~mask;
    }

    // "dir/.name.XXXXXX" beside the target, so that rename() stays atomic.
    std::size_t dir = directory_length(r.target);
    const char *base = r.target + dir;
    static constexpr char suffix[] = ".XXXXXX";
    if (dir + 1 + std::strlen(base) + sizeof suffix > PATH_MAX) {
        errno = ENAMETOOLONG;
        return fail(r);
    }
    char temp[PATH_MAX];
    std::memcpy(temp, r.target, dir);
    temp[dir] = '.';
    std::strcpy(temp + dir + 1, base);
    std::strcat(temp, suffix);

    int fd = -1;
    {
        signals_held held;
        fd = mkstemp(temp);
        if (fd < 0)
            return fail(r);
        std::strcpy(r.temp, temp);
        std::strcpy(pending_temp, temp);
    }
    r.file = fdopen(fd, mode);
    if (r.file == nullptr) {
        int saved = errno;
        (void)close(fd);
        errno = saved;
        return fail(r);
    }
    // The callers write large blocks; a stream buffer would only copy them.
    (void)std::setvbuf(r.file, nullptr, _IONBF, 0);
    return true;
}

bool replace_write(replacement &r, const void *data, std::size_t size)
{
    if (size == 0)
        return true;
    if (std::fwrite(data, 1, size, r.file) != size)
        return fail(r);
    return true;
}

bool replace_commit(replacement &r)
{
    errno = 0;
    if (std::fflush(r.file) != 0 || std::ferror(r.file) != 0)
        return fail(r);
    if (r.temp[0] == '\0') {
        // Written in place: only the close is left to check.
        std::FILE *file = r.file;
        r.file = nullptr;
        if (std::fclose(file) != 0)
            return fail(r);
        return true;
    }
    int fd = fileno(r.file);
    // Only root may give the file back to its owner; others keep their own.
    if (r.existed)
        (void)!fchown(fd, r.owner, r.group);
    if (fchmod(fd, r.mode) != 0)
        return fail(r);
    // The new contents must be on disk before the name points at them, or a
    // crash could leave an empty file where the old one was.
    if (fsync(fd) != 0 && errno != EINVAL)
        return fail(r);
    std::FILE *file = r.file;
    r.file = nullptr;
    if (std::fclose(file) != 0)
        return fail(r);

    signals_held held;
    if (std::rename(r.temp, r.target) != 0)
        return fail(r);
    r.temp[0] = '\0';
    pending_temp[0] = '\0';
    return true;
}

void replace_abandon(replacement &r)
{
    if (r.file != nullptr) {
        (void)std::fclose(r.file);
        r.file = nullptr;
    }
    if (r.temp[0] != '\0') {
        signals_held held;
        (void)unlink(r.temp);
        r.temp[0] = '\0';
        pending_temp[0] = '\0';
    }
}

}  // namespace track
