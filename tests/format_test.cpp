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

TEST_P(Writer, AgreesWithThePattern)
{
    // Three lines known by heart, so that the pattern itself is checked;
    // then every byte value in every field (field k of record r holds r +
    // 17k), then random records. Each of the first records alone, the way a
    // kernel takes a track's last records; then counts that end inside and
    // on each step of its way for several at once.
    const unsigned char known[] = {0x80, 9, 10, 99, 100, 199, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};
    std::vector<unsigned char> records(16 * 1260);
    std::memcpy(records.data(), known, 16);
    std::memset(records.data() + 16, 255, 16);
    std::mt19937 random(20261208);
    for (std::size_t i = 48; i < records.size(); ++i)
        records[i] = static_cast<unsigned char>(i < 48 + 16 * 256 ? (i - 48) / 16 + 17 * (i % 16) : random());
    EXPECT_EQ(format(records.data(), 3), "128 9 10 99 100 199 200 0 0 0 0 0 0 0 0 128\n"
                                         "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n"
                                         "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    for (std::size_t r = 0; r < 20; ++r)
        EXPECT_EQ(format(&records[16 * r], 1), with_pattern(&records[16 * r], 1)) << "record " << r << " alone";
    for (std::size_t count : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 256u, 1260u})
        EXPECT_EQ(format(records.data(), count), with_pattern(records.data(), count)) << count << " records";
}

INSTANTIATE_TEST_SUITE_P(Kernels, Writer,
                         testing::ValuesIn(track::format_kernels().begin(), track::format_kernels().end()),
                         [](const auto &c) { return std::string(c.param.name); });

}  // namespace
