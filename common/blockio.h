// A conversion's reading on a second thread: while the caller converts one
// block and writes it out, the system copies the next ones in, so that the
// converting hides behind the reading instead of adding to it. The caller
// writes what it converted itself, from its own cache and with no wait for
// the thread. The blocks go round a few slots, in order. Between anything
// but regular files, or where the thread cannot start, the same calls do the
// reading themselves, one block at a time.
//
// The thread may also take on part of the converting: the front of each
// block it reads (the caller's `ahead` function, given how many bytes to
// take). Its share follows whichever side waits: it grows by 1/64 of a
// block when the thread waits for the caller, and shrinks as much when the
// caller waits for the thread, so that both cores stay busy whatever the
// converting costs here.
//
//   block_io io(in, out, inputs, block_size, outputs, output_size);
//   io_start(io);
//   for (;;) {
//       io_block b;
//       if (!io_next(io, b)) ...            // io.failed says which
//       ... convert b.size bytes at b.data (0 at the end) to b.out ...
//       io_put(io, from, made);
//       if (b.size == 0) break;
//   }
//   if (!io_finish(io)) ...
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <semaphore.h>

#include "input.h"
#include "replace/replace.h"

namespace track {

inline constexpr int io_slots = 4;

enum class io_failure : std::uint8_t { none, reading, writing };

// One block of input and the room for its output.
struct io_block {
    const char *data = nullptr;
    std::size_t size = 0;  // 0 at the end of the input
    unsigned char *out = nullptr;
    std::size_t slot = 0;  // which of the io_slots, for what the caller keeps per block
};

struct block_io {
    // The caller's: the files, and io_slots blocks of block_size bytes to
    // read into and io_slots of output_size for what they convert to.
    input_file &in;
    replacement &out;
    char *inputs;
    std::size_t block_size;
    unsigned char *outputs;
    std::size_t output_size;
    // Called on the thread for each block read but the empty one at the end,
    // with how many bytes of it to convert there (a quarter at first).
    void (*ahead)(const io_block &block, std::size_t share) = nullptr;

    // The rest is block_io's own.
    // The failure told is the one a single thread would meet first: the
    // caller's write of a block comes before any read after it, so a failed
    // write is told at once, a failed read at its own block.
    io_failure failed = io_failure::none;  // set where io_next or io_finish returns false
    std::size_t got[io_slots] = {};
    std::atomic<std::size_t> share{block_size / 4};  // bytes of each block for the thread's `ahead`
    bool read_failed[io_slots] = {};                 // the thread's, seen by the caller once the block is posted
    bool write_failed = false;                       // the caller's
    sem_t read{};                                    // blocks read, not yet taken
    sem_t written{};                                 // blocks written, their slots free again
    std::atomic<bool> stop{false};                   // the caller gave up
    int error = 0;                                   // errno of a failed read; a failed write's is in out.error
    std::uint64_t next = 0;
    bool semaphores = false;  // read and written are set up
    bool threaded = false;
    pthread_t thread{};

    block_io(input_file &i, replacement &o, char *in_blocks, std::size_t in_size, unsigned char *out_blocks,
             std::size_t out_size)
        : in(i), out(o), inputs(in_blocks), block_size(in_size), outputs(out_blocks), output_size(out_size)
    {
    }
    block_io(const block_io &) = delete;
    block_io &operator=(const block_io &) = delete;
    ~block_io();  // stops the thread, if it still runs
};

// Starts the thread, where it can run.
void io_start(block_io &io);

// The next block read; false when a read or a write failed.
bool io_next(block_io &io, io_block &block);

// The thread's conversion of the block from io_next was of no use: its share
// shrinks, as when the caller waits for it, so that it follows only work
// that was used.
void io_wasted(block_io &io);

// Writes the block from io_next, converted to `made` bytes at its out +
// from; a failure is told by the next io_next or by io_finish.
void io_put(block_io &io, std::size_t from, std::size_t made);

// Waits for the thread; false when a read or a write failed.
bool io_finish(block_io &io);

}  // namespace track
