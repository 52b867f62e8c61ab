// An input file read in large blocks.
#pragma once

#include <cstddef>
#include <cstdio>

namespace track {

// Both programs read in large blocks: the text in 256 KiB, the records in
// 64 KiB (4096 records).
inline constexpr std::size_t text_block_size = std::size_t{256} * 1024;
inline constexpr std::size_t record_block_size = std::size_t{64} * 1024;

struct input_file {
    std::FILE *file = nullptr;

    input_file() = default;
    input_file(const input_file &) = delete;
    input_file &operator=(const input_file &) = delete;
    ~input_file()
    {
        if (file != nullptr)
            (void)std::fclose(file);
    }
};

// Opens name for reading; false with errno set on failure.
bool open_input(input_file &in, const char *name, const char *mode);

// Reads up to size bytes, as many as there are before the end. Sets got (0 at
// the end); false with errno set on a read error.
bool read_block(input_file &in, void *buffer, std::size_t size, std::size_t &got);

}  // namespace track
