// Every track file writer must give exactly what the record pattern prints.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format.h"

namespace {

std::string with_pattern(const unsigned char *bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const track::trame t = track::record_from_bytes(bytes + 16 * i);
        char line[100];
        int n = std::snprintf(line, sizeof line, track::record_pattern, t.quelpiano, t.quelpiano1, t.quelpiano2,
                              t.quelpiano3, t.quelpiano4, t.quelpiano5, t.quelpiano6, t.quelpiano7, t.quelpiano8,
                              t.quelpiano9, t.quelpiano10, t.quelpiano11, t.quelpiano12, t.quelpiano13, t.quelpiano14,
                              t.quelpiano15);
        text.append(line, static_cast<std::size_t>(n));
    }
    return text;
}

class Writer : public testing::TestWithParam<track::kernel<track::record_formatter>> {
protected:
    void SetUp() override
    {
        if (!GetParam().runs_here())
            GTEST_SKIP() << "this processor cannot run it";
    }

    std::string format(const unsigned char *bytes, std::size_t count)
    {
        std::string text(count * track::max_line_length + track::format_slack, '\0');
        text.resize(GetParam().run(bytes, count, text.data()));
        return text;
    }
};

TEST_P(Writer, KnownLines)
{
    struct line_case {
        unsigned char record[16];
        std::string line;
    } const cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"},
        {{0}, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"},
        {{255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
         "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n"},
        {{0x80, 9, 10, 99, 100, 199, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0x80},
         "128 9 10 99 100 199 200 0 0 0 0 0 0 0 0 128\n"},
    };
    // One at a time, the records go the way a kernel takes a track's last
    // records; all together, the way it takes several at once.
    unsigned char records[std::size(cases)][16];
    std::string lines;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(format(cases[i].record, 1), cases[i].line);
        std::memcpy(records[i], cases[i].record, 16);
        lines += cases[i].line;
    }
    EXPECT_EQ(format(records[0], std::size(cases)), lines);
}

TEST_P(Writer, AgreesWithThePattern)
{
    // Every byte value in every field (field k of record r holds r + 17k),
    // then random records; counts that end inside and on each step.
    std::vector<unsigned char> records(16 * 1257);
    std::mt19937 random(20261208);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i] = static_cast<unsigned char>(i < 16 * 256 ? i / 16 + 17 * (i % 16) : random());
    for (std::size_t count : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 256u, 1257u})
        EXPECT_EQ(format(records.data(), count), with_pattern(records.data(), count)) << count << " records";
}

INSTANTIATE_TEST_SUITE_P(Kernels, Writer,
                         testing::ValuesIn(track::format_kernels().begin(), track::format_kernels().end()),
                         [](const auto &c) { return std::string(c.param.name); });

}  // namespace
