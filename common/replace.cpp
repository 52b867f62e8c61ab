#include "replace.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "report.h"

namespace track {

namespace {

// The temporary name the new contents have, if any, in pending_dir. This is
// the one record of it: the signal handler, which can reach nothing but
// static storage, removes it. It changes only with the signals held back,
// and only one replacement runs at a time.
int pending_dir = -1;
char pending_name[NAME_MAX + 1];

// Where the resolution of the output name has got to: the name in the
// directory, the directory as the user wrote it (for messages), and the text
// of the last link read (the kernel keeps a link's text under PATH_MAX).
char target_name[NAME_MAX + 1];
char shown_dir[PATH_MAX];
char link_text[PATH_MAX];

// Every signal whose default action ends the process and that can be
// caught; SIGPIPE and SIGXFSZ are ignored instead, so that the write fails.
constexpr int fatal_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

void remove_pending_and_die(int sig)
{
    if (pending_name[0] != '\0')
        (void)unlinkat(pending_dir, pending_name, 0);
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);  // delivered when the handler returns
}

sigset_t fatal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : fatal_signals)
        sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&set, sig);
    return set;
}

void catch_fatal(int sig, const struct sigaction &action)
{
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return;
    (void)sigaction(sig, &action, nullptr);
}

// Runs with the fatal signals held back, so that the handler never sees a
// half-made change to the pending name or a file that it cannot name.
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

bool set_text(char *out, std::size_t size, const char *text)
{
    if (std::snprintf(out, size, "%s", text) >= static_cast<int>(size)) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// A directory for creating files in and syncing, or, when it cannot be read,
// one that serves as a place only.
int open_directory(int at, const char *path, bool &syncable)
{
    int fd = openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    syncable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool protected_symlinks()
{
    // Read once. Unknown counts as on: then a link is refused only where
    // the kernel itself might refuse it.
    static int on = -1;
    if (on < 0) {
        const int fd = open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC);
        char c = '1';
        on = fd >= 0 && read(fd, &c, 1) == 1 && c == '0' ? 0 : 1;
        if (fd >= 0)
            (void)close(fd);
    }
    return on != 0;
}

// Follows symbolic links from name in the current directory to the file they
// end at, which need not exist yet: r.dir and target_name name it. Each link
// is read relative to the directory that holds it, so a chain of links is
// never joined into one long path. Fills st and r.existed.
bool resolve_target(replacement &r, const char *name, struct stat &st)
{
    r.dir = open_directory(AT_FDCWD, ".", r.dir_synced);
    if (r.dir < 0 || !set_text(target_name, sizeof target_name, name) || !set_text(shown_dir, sizeof shown_dir, "."))
        return false;
    // Forty links, as the kernel follows at most in one path.
    for (int hops = 0;; ++hops) {
        if (fstatat(r.dir, target_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            r.existed = false;
            return errno == ENOENT;
        }
        if (!S_ISLNK(st.st_mode)) {
            r.existed = true;
            return true;
        }
        struct stat dir {};
        if (fstat(r.dir, &dir) != 0)
            return false;
        if (hops == 40 || !may_follow_link(protected_symlinks(), dir, st, geteuid())) {
            errno = hops == 40 ? ELOOP : EACCES;
            return false;
        }
        const ssize_t got = readlinkat(r.dir, target_name, link_text, sizeof link_text);
        if (got < 0)
            return false;
        if (static_cast<std::size_t>(got) == sizeof link_text) {
            errno = ENAMETOOLONG;
            return false;
        }
        link_text[got] = '\0';
        char *slash = std::strrchr(link_text, '/');
        const char *base = link_text;
        if (slash != nullptr) {
            // The link names another directory: the kernel resolves it,
            // relative to the directory that holds the link.
            base = slash + 1;
            *slash = '\0';
            bool syncable = false;
            const int next = open_directory(r.dir, link_text[0] == '\0' ? "/" : link_text, syncable);
            if (next < 0)
                return false;
            (void)close(r.dir);
            r.dir = next;
            r.dir_synced = syncable;
            if (!set_text(shown_dir, sizeof shown_dir, link_text[0] == '\0' ? "/" : link_text))
                return false;
        }
        if (!set_text(target_name, sizeof target_name, base[0] == '\0' ? "." : base))
            return false;
    }
}

// Puts a fresh ".NAME.XXXXXX" in pending_name.
bool make_temp_name()
{
    static unsigned counter = 0;
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    const auto tag =
        static_cast<unsigned>(now.tv_nsec) ^ (static_cast<unsigned>(getpid()) << 12) ^ (++counter * 0x9e3779b9u);
    const int n = std::snprintf(pending_name, sizeof pending_name, ".%s.%06x", target_name, tag & 0xffffffu);
    if (n < 0 || n >= static_cast<int>(sizeof pending_name)) {
        pending_name[0] = '\0';
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Creates the named temporary file, for filesystems without unnamed files.
int create_named(replacement &r)
{
    for (int tries = 0; tries < 100; ++tries) {
        signals_held held;
        if (!make_temp_name())
            return -1;
        const int fd = openat(r.dir, pending_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            pending_dir = r.dir;
            r.named = true;
            return fd;
        }
        pending_name[0] = '\0';
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Gives the unnamed file its temporary name, just before the rename.
bool name_unnamed(replacement &r)
{
    char proc_path[64];
    (void)std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", r.fd);
    for (int tries = 0; tries < 100; ++tries) {
        signals_held held;
        if (!make_temp_name())
            return false;
        // Naming a file by its descriptor needs a privilege that /proc does not.
        if (linkat(r.fd, "", r.dir, pending_name, AT_EMPTY_PATH) == 0 ||
            (errno != EEXIST && linkat(AT_FDCWD, proc_path, r.dir, pending_name, AT_SYMLINK_FOLLOW) == 0)) {
            pending_dir = r.dir;
            r.named = true;
            return true;
        }
        pending_name[0] = '\0';
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool fail(replacement &r, replace_step step = replace_step::other)
{
    if (r.error == 0) {
        r.error = errno != 0 ? errno : EIO;
        r.failed = step;
    }
    replace_abandon(r);
    return false;
}

}  // namespace

void prepare_signals()
{
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_pending_and_die;
    action.sa_mask = fatal_set();
    for (int sig : fatal_signals)
        catch_fatal(sig, action);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        catch_fatal(sig, action);
}

bool may_follow_link(bool protected_symlinks, const struct stat &dir, const struct stat &link, uid_t follower)
{
    constexpr mode_t sticky_and_open = S_ISVTX | S_IWOTH;
    return !protected_symlinks || (dir.st_mode & sticky_and_open) != sticky_and_open || link.st_uid == follower ||
           link.st_uid == dir.st_uid;
}

replacement::~replacement()
{
    replace_abandon(*this);
}

bool replace_begin(replacement &r, const char *name)
{
    struct stat st {};
    if (!resolve_target(r, name, st))
        return fail(r);
    if (r.existed && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return fail(r);
    }
    if (r.existed && !S_ISREG(st.st_mode)) {
        r.in_place = true;
        r.fd = openat(r.dir, target_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        return r.fd >= 0 || fail(r);
    }
    if (r.existed) {
        r.mode = st.st_mode & 07777;
        r.owner = st.st_uid;
        r.group = st.st_gid;
    } else {
        const mode_t mask = umask(0);
        (void)umask(mask);
        r.mode = 0666 & ~mask;
    }
    // An unnamed file leaves nothing behind, however the program ends.
    r.fd = openat(r.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (r.fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        r.fd = create_named(r);
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
    errno = 0;
    if (r.in_place) {
        const int fd = r.fd;
        r.fd = -1;
        return close(fd) == 0 || fail(r);
    }
    // Only root may give the file back to its owner; others keep their own.
    if (r.existed)
        (void)!fchown(r.fd, r.owner, r.group);
    if (fchmod(r.fd, r.mode) != 0)
        return fail(r);
    // The contents must be on disk before a name points at them, or a crash
    // could leave an empty file where the old one was. EINVAL: this file
    // cannot be synced at all, so there is nothing to wait for.
    if (fsync(r.fd) != 0 && errno != EINVAL)
        return fail(r);
    if (!r.named && !name_unnamed(r))
        return fail(r, replace_step::create);
    const int fd = r.fd;
    r.fd = -1;
    if (close(fd) != 0)
        return fail(r);
    {
        signals_held held;
        if (renameat(r.dir, pending_name, r.dir, target_name) != 0) {
            const int saved = errno;
            struct stat dir {};
            r.sticky = fstat(r.dir, &dir) == 0 && (dir.st_mode & S_ISVTX) != 0;
            errno = saved;
            return fail(r, replace_step::rename);
        }
        pending_name[0] = '\0';
        r.named = false;
    }
    // The rename itself must reach the disk before success is reported.
    if (r.dir_synced && fsync(r.dir) != 0 && errno != EINVAL)
        return fail(r);
    replace_abandon(r);
    return true;
}

void replace_abandon(replacement &r)
{
    if (r.fd >= 0) {
        (void)close(r.fd);
        r.fd = -1;
    }
    if (r.named) {
        signals_held held;
        (void)unlinkat(r.dir, pending_name, 0);
        pending_name[0] = '\0';
        r.named = false;
    }
    if (r.dir >= 0) {
        (void)close(r.dir);
        r.dir = -1;
    }
}

void report_replace_failure(const char *program, const char *name, const replacement &r)
{
    const char *reason = std::strerror(r.error);
    switch (r.failed) {
    case replace_step::create:
        report(program, "cannot write %s: cannot create a file in '%s': %s", name, shown_dir, reason);
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
