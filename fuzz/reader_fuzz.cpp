// Fuzz target: the track file reader on arbitrary text, in arbitrary block
// sizes, with each window reader of the kernel table, read ahead or not. An
// accepted text must give exactly the bytes of a reference reading made with
// sscanf's %d (a leading UTF-8 byte order mark skipped); a rejected one must
// be rejected at a line and column inside the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chars.h"
#include "reader.h"

namespace {

bool is_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The reference: white-space separated tokens, each wholly one %d number of
// at most three significant digits (so that %d cannot overflow) worth 0..255,
// sixteen per record. Returns false when the text is not a track.
bool reference(const std::string &text, std::string &bytes)
{
    // A UTF-8 byte order mark at the very start is no part of the text.
    std::size_t at = text.rfind("\xef\xbb\xbf", 0) == 0 ? 3 : 0;
    while (at < text.size()) {
        if (is_space(static_cast<unsigned char>(text[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !is_space(static_cast<unsigned char>(text[end])))
            ++end;
        const std::string token = text.substr(at, end - at);
        at = end;
        std::size_t digits = token.find_first_not_of("+-");
        if (digits > 1 || digits == std::string::npos)
            return false;
        digits = token.find_first_not_of('0', digits);
        if (digits != std::string::npos && token.size() - digits > 3)
            return false;
        int value = 0;
        int used = 0;
        if (std::sscanf(token.c_str(), "%d%n", &value, &used) != 1 || static_cast<std::size_t>(used) != token.size())
            return false;
        if (value < 0 || value > 255)
            return false;
        bytes.push_back(static_cast<char>(value));
    }
    return bytes.size() % 16 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Half the inputs have the front of each block read ahead, as the I/O
    // thread does, in blocks big enough for it.
    const bool ahead = (data[1] & 0x80) != 0;
    const std::size_t block = (1 + data[0] % 97) * (ahead ? 4 : 1);  // 1 to 97 bytes per read, or 4 to 388
    const auto kernels = track::window_kernels();
    const track::kernel<track::window_reader> &kernel = kernels[(data[1] & 0x7f) % kernels.size()];
    if (!kernel.runs_here())
        return 0;
    const std::string text(reinterpret_cast<const char *>(data + 2), size - 2);

    track::text_reader r;
    r.window = kernel.run;
    std::string got;
    std::vector<unsigned char> out(track::ahead_room + track::text_output_bound(block));
    for (std::size_t at = 0; at < text.size() && r.fault == track::text_fault::none; at += block) {
        // A block of its own, so that the sanitizer sees any read beyond it.
        const std::size_t n = std::min(block, text.size() - at);
        std::vector<char> piece(text.begin() + static_cast<std::ptrdiff_t>(at),
                                text.begin() + static_cast<std::ptrdiff_t>(at + n));
        track::text_ahead front;
        if (ahead)
            track::read_ahead(kernel.run, track::packed_layout(r.lines), piece.data(), n, block / 2, out.data(), front);
        std::size_t from = 0;
        const std::size_t made = track::read_text(r, piece.data(), n, out.data(), front, from);
        got.append(reinterpret_cast<const char *>(out.data() + from), made);
    }
    got.append(reinterpret_cast<const char *>(out.data()), track::finish_text(r, out.data()));

    std::string expected;
    const bool accepted = reference(text, expected);
    if (accepted != (r.fault == track::text_fault::none))
        std::abort();
    if (accepted) {
        if (got != expected)
            std::abort();
        return 0;
    }
    // The fault is inside the text: its line exists (lines end at a line
    // feed, a carriage return, or both), its column is at most one past the
    // line's end.
    std::uint64_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < text.size() && line < r.fault_line; ++i) {
        if (track::ends_line(static_cast<unsigned char>(text[i]), i != 0 && text[i - 1] == '\r')) {
            ++line;
            line_start = i + 1;
        } else if (text[i] == '\n') {
            line_start = i + 1;
        }
    }
    if (line != r.fault_line)
        std::abort();
    if (line_start > 0 && line_start < text.size() && text[line_start - 1] == '\r' && text[line_start] == '\n')
        ++line_start;  // the line feed of a CR LF ends the same line
    if (r.fault != track::text_fault::incomplete) {
        const std::size_t line_end = text.find_first_of("\r\n", line_start);
        const std::size_t length = (line_end == std::string::npos ? text.size() : line_end + 1) - line_start;
        if (r.fault_column < 1 || r.fault_column > length + 1)
            std::abort();
    }
    return 0;
}
