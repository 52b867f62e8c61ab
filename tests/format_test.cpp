// The track file writer must give exactly what the record pattern prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "textwrite.h"

namespace {

std::string with_pattern(const track::trame &t)
{
    char line[100];
    int n = std::snprintf(line, sizeof line, track::record_pattern, t.quelpiano, t.quelpiano1, t.quelpiano2,
                          t.quelpiano3, t.quelpiano4, t.quelpiano5, t.quelpiano6, t.quelpiano7, t.quelpiano8,
                          t.quelpiano9, t.quelpiano10, t.quelpiano11, t.quelpiano12, t.quelpiano13,
                          t.quelpiano14, t.quelpiano15);
    return {line, static_cast<std::size_t>(n)};
}

std::string formatted(const unsigned char *record)
{
    char line[track::max_line_length];
    return {line, track::format_records(record, 1, line)};
}

struct line_case {
    unsigned char record[16];
    std::size_t length;
    std::string line;
};

TEST(Writer, KnownLines)
{
    const line_case cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 38, "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"},
        {{0}, 32, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"},
        {{255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}, 64,
         "255 255 255 255 255 255 255 255 255 255 255 255 255 255 255 255\n"},
        {{0x80, 9, 10, 99, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, 40,
         "128 9 10 99 100 0 0 0 0 0 0 0 0 0 0 128\n"},
    };
    for (const line_case &c : cases) {
        EXPECT_EQ(formatted(c.record), c.line);
        EXPECT_EQ(c.line.size(), c.length);
        EXPECT_EQ(with_pattern(track::record_from_bytes(c.record)), c.line);
    }
}

TEST(Writer, AgreesWithThePatternOnRandomRecords)
{
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    unsigned char records[16 * 1000];
    for (unsigned char &b : records)
        b = static_cast<unsigned char>(byte(random));
    std::string expected;
    for (std::size_t i = 0; i < 1000; ++i)
        expected += with_pattern(track::record_from_bytes(records + 16 * i));
    std::string text(1000 * track::max_line_length, '\0');
    text.resize(track::format_records(records, 1000, text.data()));
    EXPECT_EQ(text, expected);
}

TEST(Writer, EveryByteValue)
{
    for (int v = 0; v <= 255; ++v) {
        unsigned char record[16];
        std::fill(std::begin(record), std::end(record), static_cast<unsigned char>(v));
        EXPECT_EQ(formatted(record), with_pattern(track::record_from_bytes(record))) << v;
    }
}

}  // namespace
