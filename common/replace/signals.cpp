#include "signals.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace track {

namespace {

// All that the handler needs, and so all that lives in static storage.
int pending_dir = -1;
char pending_name[NAME_MAX + 1];

// Every signal whose default action ends the process and that can be
// caught, besides the real-time ones; SIGPIPE and SIGXFSZ are ignored.
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

// The signals a thread raises itself: a fault of its own, an abort.
constexpr int own_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

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

signals_held::signals_held()
{
    const sigset_t set = fatal_set();
    (void)sigprocmask(SIG_BLOCK, &set, &saved);
}

signals_held::~signals_held()
{
    (void)sigprocmask(SIG_SETMASK, &saved, nullptr);
}

void take_own_faults()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : own_signals)
        sigaddset(&set, sig);
    (void)pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void set_pending(int dir, const char *name)
{
    pending_dir = dir;
    // Names come from the caller's buffer of the same size.
    std::strncpy(pending_name, name, sizeof pending_name - 1);
}

}  // namespace track
