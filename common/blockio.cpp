#include "blockio.h"

#include <cerrno>
#include <sys/stat.h>

#include "replace/signals.h"

namespace track {

namespace {

std::size_t slot(std::uint64_t block)
{
    return static_cast<std::size_t>(block % io_slots);
}

char *input_of(const block_io &io, std::uint64_t block)
{
    return io.inputs + slot(block) * io.block_size;
}

unsigned char *output_of(const block_io &io, std::uint64_t block)
{
    return io.outputs + slot(block) * io.output_size;
}

void wait(sem_t &s)
{
    while (sem_wait(&s) != 0 && errno == EINTR) {
    }
}

// The thread's share grows (by the thread) or shrinks (by the caller) by
// 1/64 of a block.
void move_share(block_io &io, bool by_thread)
{
    const auto step = static_cast<std::ptrdiff_t>(io.block_size / 64);
    const auto share =
        static_cast<std::ptrdiff_t>(io.share.load(std::memory_order_relaxed)) + (by_thread ? step : -step);
    const auto most = static_cast<std::ptrdiff_t>(io.block_size);
    io.share.store(static_cast<std::size_t>(share < 0 ? 0 : share > most ? most : share), std::memory_order_relaxed);
}

// Waits for s; when it had to, the share moves towards the side that waited.
void wait_and_share(block_io &io, sem_t &s, bool by_thread)
{
    if (sem_trywait(&s) == 0)
        return;
    move_share(io, by_thread);
    wait(s);
}

io_block block_of(const block_io &io, std::uint64_t block)
{
    return {input_of(io, block), io.got[slot(block)], output_of(io, block), slot(block)};
}

bool read_into(block_io &io, std::uint64_t block)
{
    std::size_t got = 0;
    const bool ok = read_block(io.in, input_of(io, block), io.block_size, got);
    io.got[slot(block)] = got;
    io.read_failed[slot(block)] = !ok;
    if (!ok)
        io.error = errno;
    return ok;
}

// The thread: reads run up to io_slots blocks ahead of the converting, and
// block k's slot is read into again once block k is written.
void *run_io(void *arg)
{
    // A fault here is as fatal as on the main thread, and removes the
    // pending name the same way: that name stays as it is while this
    // thread runs (replace/signals.h).
    take_own_faults();
    block_io &io = *static_cast<block_io *>(arg);
    for (std::uint64_t block = 0;; ++block) {
        if (block >= io_slots) {
            wait_and_share(io, io.written, true);
            if (io.stop.load(std::memory_order_acquire))
                break;
        }
        const bool ok = read_into(io, block);
        if (ok && io.got[slot(block)] != 0 && io.ahead != nullptr)
            io.ahead(block_of(io, block), io.share.load(std::memory_order_relaxed));
        (void)sem_post(&io.read);  // a failure wakes the caller as well
        if (!ok || io.got[slot(block)] == 0)
            break;
    }
    (void)sem_post(&io.read);  // a caller still waiting learns of the failure
    return nullptr;
}

}  // namespace

block_io::~block_io()
{
    if (threaded) {
        stop.store(true, std::memory_order_release);
        (void)sem_post(&written);
        (void)pthread_join(thread, nullptr);
    }
    if (semaphores) {
        (void)sem_destroy(&read);
        (void)sem_destroy(&written);
    }
}

void io_start(block_io &io)
{
    // Only between regular files: a read from a pipe or a terminal may wait
    // for ever, and a conversion that fails must not wait for the thread to
    // come back from it; what is written in place (a pipe, a device) goes
    // at its reader's pace, one block at a time.
    struct stat st {};
    if (io.out.in_place || fstat(fileno(io.in.file), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    // The thread takes no signal meant for the process, which the main
    // thread handles, only those it raises itself (replace/signals.h).
    if (sem_init(&io.read, 0, 0) != 0)
        return;
    if (sem_init(&io.written, 0, 0) != 0) {
        (void)sem_destroy(&io.read);
        return;
    }
    io.semaphores = true;
    const signals_held held;
    io.threaded = pthread_create(&io.thread, nullptr, run_io, &io) == 0;
}

bool io_next(block_io &io, io_block &block)
{
    if (io.write_failed) {
        io.failed = io_failure::writing;
        return false;
    }
    if (io.threaded)
        wait_and_share(io, io.read, false);
    else
        (void)read_into(io, io.next);
    if (io.read_failed[slot(io.next)]) {
        io.failed = io_failure::reading;
        return false;
    }
    block = block_of(io, io.next);
    return true;
}

void io_wasted(block_io &io)
{
    move_share(io, false);
}

void io_put(block_io &io, std::size_t from, std::size_t made)
{
    if (!io.write_failed)
        io.write_failed = !replace_write(io.out, output_of(io, io.next) + from, made);
    if (io.threaded)
        (void)sem_post(&io.written);
    ++io.next;
}

bool io_finish(block_io &io)
{
    if (io.threaded) {
        (void)pthread_join(io.thread, nullptr);
        io.threaded = false;
    }
    io.failed = io.write_failed ? io_failure::writing : io_failure::none;
    return !io.write_failed;
}

}  // namespace track
