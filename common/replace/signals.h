// Signals for a program that replaces a file.
//
// A write to a closed pipe or past the file-size limit fails with an error
// instead of killing the program. Every other signal that would end the
// program first removes the one temporary file that may have a name at that
// moment, the pending name, and then ends the program as the signal would.
#pragma once

#include <csignal>

namespace track {

// Call it first thing.
void prepare_signals();

// Holds the fatal signals back while it lives, so that the handler never
// sees a half-made pending name or a file it cannot name.
struct signals_held {
    sigset_t saved{};
    signals_held();
    ~signals_held();
    signals_held(const signals_held &) = delete;
    signals_held &operator=(const signals_held &) = delete;
};

// The name in directory dir that a fatal signal removes; "" for none. Change
// it only while the signals are held, and never while another thread runs.
void set_pending(int dir, const char *name);

// For a thread started while the signals were held: the signals that a
// thread raises itself (a fault, an abort) are taken where they arise, as
// they cannot wait for the main thread; the others stay with it.
void take_own_faults();

}  // namespace track
