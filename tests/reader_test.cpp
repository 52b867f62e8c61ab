// The track file reader, fed whole and in blocks of every small size, so
// that numbers straddle blocks and the byte-by-byte path meets every case.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "run.h"
#include "textread.h"

namespace {

using track_test::repeat;

struct reading {
    std::string bytes;  // the record bytes produced
    std::string fault;  // describe_fault's text, empty when accepted
};

reading read_in_blocks(const std::string &text, std::size_t block,
                       track::window_reader window = track::read_windows_portable)
{
    track::text_reader r;
    r.window = window;
    reading result;
    std::vector<unsigned char> out(track::text_output_bound(block));
    auto keep = [&](std::size_t n) { result.bytes.append(reinterpret_cast<const char *>(out.data()), n); };
    for (std::size_t at = 0; at < text.size() && r.fault == track::text_fault::none; at += block)
        keep(track::read_text(r, text.data() + at, std::min(block, text.size() - at), out.data()));
    keep(track::finish_text(r, out.data()));
    if (r.fault != track::text_fault::none) {
        char where[200];
        track::describe_fault(r, where, sizeof where);
        result.fault = where;
    }
    return result;
}

// Every block size, and both window readers, must give what the whole text
// gives byte by byte (blocks of one byte never use a window).
reading read_all(const std::string &text)
{
    reading whole = read_in_blocks(text, 1);
    auto same = [&](const reading &other, const std::string &how) {
        if (whole.fault.empty()) {
            EXPECT_EQ(other.bytes, whole.bytes) << how;
        }
        EXPECT_EQ(other.fault, whole.fault) << how;
    };
    constexpr std::size_t blocks[] = {2, 3, 4, 5, 7, 16, 67, 100, 1000};
    for (std::size_t block : blocks)
        same(read_in_blocks(text, block), "block " + std::to_string(block));
    for (const track::window_kernel &k : track::window_kernels()) {
        if (k.runs_here())
            same(read_in_blocks(text, text.size() + 1, k.run), std::string("whole, windows: ") + k.name);
    }
    return whole;
}

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

const std::string rising = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n";
const std::string rising_bytes = bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
const std::string fifteen = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ";  // a record short of one

struct accepted_case {
    const char *name;
    std::string text;
    std::string expected;
};

void PrintTo(const accepted_case &c, std::ostream *os)
{
    *os << c.name;
}

class Accepted : public testing::TestWithParam<accepted_case> {};

TEST_P(Accepted, GivesTheRecordBytes)
{
    reading r = read_all(GetParam().text);
    EXPECT_EQ(r.fault, "");
    EXPECT_EQ(r.bytes, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, Accepted,
    testing::Values(
        accepted_case{"empty", "", ""}, accepted_case{"only_white_space", " \t\n\v\f\r\n\n", ""},
        accepted_case{"rising", rising, rising_bytes},
        accepted_case{"all_255", repeat("255 ", 15) + "255\n", std::string(16, '\xff')},
        accepted_case{"all_0", repeat("0 ", 15) + "0\n", std::string(16, '\0')},
        accepted_case{"two_records_one_line", repeat("0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ", 2),
                      rising_bytes + rising_bytes},
        accepted_case{"one_record_two_lines", "0 1 2 3 4 5 6 7\n8 9 10 11 12 13 14 15\n", rising_bytes},
        accepted_case{"crlf", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\r\n" + rising, rising_bytes + rising_bytes},
        accepted_case{"no_final_line_feed", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15", rising_bytes},
        accepted_case{"blank_lines_tabs_runs", "\n\n0\t1  2 \t 3 4 5 6 7 8 9 10 11 12 13 14 15\n\n\v\f" + rising,
                      rising_bytes + rising_bytes}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(Numbers, Accepted,
                         testing::Values(accepted_case{"sign_and_zeros",
                                                       "007 +7 7 -0 +0 -000 010 0255 0000 1 2 3 4 5 6 7",
                                                       bytes({7, 7, 7, 0, 0, 0, 10, 255, 0, 1, 2, 3, 4, 5, 6, 7})},
                                         accepted_case{"long_leading_zeros", std::string(100000, '0') + "7 " + fifteen,
                                                       bytes({7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})},
                                         accepted_case{"limits_0_and_255", "0 255 +255 -0 0255 " + repeat("1 ", 11),
                                                       bytes({0, 255, 255, 0, 255, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})}),
                         [](const auto &c) { return std::string(c.param.name); });

struct rejected_case {
    const char *name;
    std::string text;
    std::string fault;
};

void PrintTo(const rejected_case &c, std::ostream *os)
{
    *os << c.name;
}

class Rejected : public testing::TestWithParam<rejected_case> {};

TEST_P(Rejected, NamesLineAndColumn)
{
    EXPECT_EQ(read_all(GetParam().text).fault, GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(
    Range, Rejected,
    testing::Values(rejected_case{"minus_1", "-1 ", "1:1: -1 is out of range 0..255"},
                    rejected_case{"256", "1 256\n", "1:3: 256 is out of range 0..255"},
                    rejected_case{"plus_256_at_end", "+256", "1:1: +256 is out of range 0..255"},
                    rejected_case{"past_32_bits", "4294967296 ", "1:1: 4294967296 is out of range 0..255"},
                    rejected_case{"minus_256", "-256 ", "1:1: -256 is out of range 0..255"},
                    rejected_case{"zeros_then_256", "  +" + std::string(30, '0') + "256",
                                  "1:3: +256 (34 characters) is out of range 0..255"},
                    rejected_case{"many_digits", std::string(25, '9'),
                                  "1:1: 99999999999999999999... (25 characters) is out of range 0..255"},
                    rejected_case{"after_crlf_lines", rising + "\r\n1 2\r\n  300 ", "4:3: 300 is out of range 0..255"},
                    rejected_case{"after_cr_lines", "1\r2\r\r\n\n  300 ", "5:3: 300 is out of range 0..255"}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    NotANumber, Rejected,
    testing::Values(rejected_case{"letter", "1 2\n a", "2:2: expected a number, found 'a'"},
                    rejected_case{"decimal_point", "1.5 ", "1:2: expected a digit or white space, found '.'"},
                    rejected_case{"hex", "0x10 ", "1:2: expected a digit or white space, found 'x'"},
                    rejected_case{"digits_then_letters", "7 12abc", "1:5: expected a digit or white space, found 'a'"},
                    rejected_case{"sign_then_blank", "- 5", "1:2: expected a digit after '-', found ' '"},
                    rejected_case{"sign_then_line_feed", "+\n5", "1:2: expected a digit after '+', found byte 0x0A"},
                    rejected_case{"sign_at_end", "1 2 -", "1:6: expected a digit after '-', found end of file"},
                    rejected_case{"two_signs", "+-1", "1:2: expected a digit after '+', found '-'"},
                    rejected_case{"nul", std::string("1 \0 2", 5), "1:3: expected a number, found byte 0x00"},
                    rejected_case{"high_byte", "1\n\n\xe9", "3:1: expected a number, found byte 0xE9"},
                    rejected_case{"after_records", rising + rising + "  #", "3:3: expected a number, found '#'"}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Incomplete, Rejected,
    testing::Values(rejected_case{"one_number", "5", "1: incomplete record: 1 of 16 numbers"},
                    rejected_case{"fifteen", fifteen, "1: incomplete record: 15 of 16 numbers"},
                    rejected_case{"after_a_record", rising + "1 2\n3\n\n\n", "3: incomplete record: 3 of 16 numbers"},
                    rejected_case{"seventeen", rising + "\r\n  9", "3: incomplete record: 1 of 16 numbers"}),
    [](const auto &c) { return std::string(c.param.name); });

// Long texts, so that the window readers meet each case past their first
// window and beside their fast path.
INSTANTIATE_TEST_SUITE_P(Windows, Accepted,
                         testing::Values(accepted_case{"many_records", repeat(rising, 20), repeat(rising_bytes, 20)},
                                         accepted_case{"mixed_forms",
                                                       repeat(rising, 5) + "  0 1\t2 3\r\n" + std::string(70, ' ') +
                                                           "004 5 +6 7 8 9 10 11 12 13 14 15\n" + repeat(rising, 5),
                                                       repeat(rising_bytes, 11)}),
                         [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Windows, Rejected,
    testing::Values(rejected_case{"out_of_range_late", repeat(rising, 4) + "1 2 3 256 5\n",
                                  "5:7: 256 is out of range 0..255"},
                    rejected_case{"999_in_a_window", repeat(rising, 4) + "99 999 " + repeat(rising, 4),
                                  "5:4: 999 is out of range 0..255"},
                    rejected_case{"four_digits", repeat(rising, 4) + "1000 " + repeat(rising, 4),
                                  "5:1: 1000 is out of range 0..255"},
                    rejected_case{"letter_after_windows", repeat(rising, 4) + "7 q " + repeat(rising, 4),
                                  "5:3: expected a number, found 'q'"},
                    rejected_case{"incomplete_after_windows", repeat(rising, 4) + "1 2\n\n",
                                  "5: incomplete record: 2 of 16 numbers"}),
    [](const auto &c) { return std::string(c.param.name); });

TEST(Reader, WindowReadersAgreeOnRandomText)
{
    // Mostly the common form, with every kind of departure from it sprinkled
    // in; each text is compared byte by byte against the slow way.
    const char *const departures[] = {"  ",   "\t", "\r\n", "\n\n", "+", "-",  "0",  "00", "256", "999",
                                      "1000", "x",  "\0",   "\xff", ".", "\v", "\f", "-0", "255"};
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int numbers = 16 * (1 + static_cast<int>(random() % 8));
        for (int k = 0; k < numbers; ++k) {
            text += std::to_string(random() % 256);
            if (random() % 40 == 0) {
                const char *d = departures[random() % std::size(departures)];
                text.append(d, d[0] == '\0' ? 1 : std::strlen(d));
            }
            text += k % 16 == 15 ? '\n' : ' ';
        }
        if (round % 3 == 0)
            text.resize(random() % (text.size() + 1));  // cut anywhere
        read_all(text);
    }
}

TEST(Reader, CountsLinesAndColumnsIn64Bits)
{
    // As if more than 4 GiB of text and 2^33 lines had gone before.
    track::text_reader r;
    r.offset = (std::uint64_t{1} << 32) + 5;
    r.line = std::uint64_t{1} << 33;
    unsigned char out[64];
    track::read_text(r, " 1 x", 4, out);
    char where[100];
    track::describe_fault(r, where, sizeof where);
    EXPECT_STREQ(where, "8589934592:4294967305: expected a number, found 'x'");
}

}  // namespace
