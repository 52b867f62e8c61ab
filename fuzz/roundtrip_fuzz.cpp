// Fuzz target: arbitrary bytes as records through every formatter the
// processor can run, which must agree, and back through the reader, which must give every whole
// record back byte for byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format.h"
#include "reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t block = 1 + data[0] % 200;
    const std::size_t count = (size - 1) / track::record_size;
    // Records of their own, so that the sanitizer sees any read beyond them.
    std::vector<unsigned char> records(data + 1, data + 1 + count * track::record_size);

    std::vector<char> text(count * track::max_line_length + track::format_slack);
    const std::size_t length = track::format_records_portable(records.data(), count, text.data());
    for (const track::kernel<track::record_formatter> &k : track::format_kernels()) {
        if (!k.runs_here())
            continue;
        std::vector<char> other(text.size());
        if (k.run(records.data(), count, other.data()) != length || std::memcmp(other.data(), text.data(), length) != 0)
            std::abort();
    }

    track::text_reader r;
    std::string back;
    std::vector<unsigned char> out(track::text_output_bound(block));
    for (std::size_t at = 0; at < length; at += block) {
        const std::size_t n = std::min(block, length - at);
        std::size_t first = 0;
        const std::size_t made = track::read_text(r, text.data() + at, n, out.data(), track::text_ahead{}, first);
        back.append(reinterpret_cast<const char *>(out.data() + first), made);
    }
    back.append(reinterpret_cast<const char *>(out.data()), track::finish_text(r, out.data()));
    if (r.fault != track::text_fault::none || back != std::string(records.begin(), records.end()))
        std::abort();
    return 0;
}
