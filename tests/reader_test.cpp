// The track file reader, fed whole and in blocks of every small size, so
// that numbers straddle blocks and the byte-by-byte path meets every case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "input.h"
#include "reader.h"
#include "run.h"

namespace {

using track_test::repeat;

struct reading {
    std::string bytes;    // the record bytes produced
    std::string fault;    // describe_fault's text, empty when accepted
    std::string warning;  // describe_layout's text, empty when records match lines
};

// Without a window reader, every byte goes the byte-by-byte way; with a
// share, the front of each block is read ahead first, as the I/O thread does.
reading read_in_blocks(const std::string &text, std::size_t block, track::window_reader window = nullptr,
                       std::size_t share = 0)
{
    track::text_reader r;
    r.window = window;
    reading result;
    std::vector<unsigned char> out(track::ahead_room + track::text_output_bound(block));
    auto keep = [&](std::size_t from, std::size_t n) {
        result.bytes.append(reinterpret_cast<const char *>(out.data() + from), n);
    };
    track::text_ahead ahead;  // one for every block, as trackenc has one for each slot
    for (std::size_t at = 0; at < text.size() && r.fault == track::text_fault::none; at += block) {
        const std::size_t size = std::min(block, text.size() - at);
        // Each block alone, a blank after it: a number read past the
        // block's end would end there.
        const std::string piece = text.substr(at, size) + ' ';
        if (share != 0)
            track::read_ahead(window, track::packed_layout(r.lines), piece.data(), size, share, out.data(), ahead);
        std::size_t from = 0;
        const std::size_t n = track::read_text(r, piece.data(), size, out.data(), ahead, from);
        EXPECT_TRUE(r.fault == track::text_fault::none || n == 0) << "records stored at a fault";
        keep(from, n);
    }
    const std::size_t last = track::finish_text(r, out.data());
    EXPECT_TRUE(r.fault == track::text_fault::none || last == 0) << "records stored at a fault";
    keep(0, last);
    char where[200];
    if (r.fault != track::text_fault::none) {
        track::describe_fault(r, where, sizeof where);
        result.fault = where;
    } else if (track::describe_layout(r, where, sizeof where)) {
        result.warning = where;
    }
    return result;
}

// Every block size, with and without each window reader and reading ahead,
// must give what the whole text gives byte by byte.
reading read_all(const std::string &text)
{
    reading whole = read_in_blocks(text, text.size() + 1);
    auto same = [&](const reading &other, const std::string &how) {
        if (whole.fault.empty()) {
            EXPECT_EQ(other.bytes, whole.bytes) << how;
        }
        EXPECT_EQ(other.fault, whole.fault) << how;
        EXPECT_EQ(other.warning, whole.warning) << how;
    };
    constexpr std::size_t blocks[] = {1, 2, 3, 5, 16, 67, 100, 1000};
    for (const track::kernel<track::window_reader> &k : track::window_kernels()) {
        if (!k.runs_here())
            continue;
        for (std::size_t block : blocks)
            same(read_in_blocks(text, block, k.run), "block " + std::to_string(block) + ", windows: " + k.name);
        same(read_in_blocks(text, text.size() + 1, k.run), std::string("whole, windows: ") + k.name);
        for (std::size_t block : {std::size_t{100}, std::size_t{1000}, std::size_t{4000}, text.size() + 1}) {
            for (std::size_t share : {block / 2, block}) {
                same(read_in_blocks(text, block, k.run, share),
                     "block " + std::to_string(block) + ", " + std::to_string(share) + " read ahead: " + k.name);
            }
        }
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
const std::string rising_run = "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ";  // a record, on a line with others
const std::string rising_bytes = bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
const std::string fifteen = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 ";  // a record short of one
const std::string fifteen_bytes = rising_bytes.substr(1);

struct accepted_case {
    const char *name;
    std::string text;
    std::string expected;
    std::string warning = "";  // where records stop matching lines
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
    EXPECT_EQ(r.warning, GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, Accepted,
    testing::Values(
        accepted_case{"empty", "", ""}, accepted_case{"only_white_space", " \t\n\v\f\r\n\n", ""},
        accepted_case{"rising", rising, rising_bytes},
        accepted_case{"all_255", repeat("255 ", 15) + "255\n", std::string(16, '\xff')},
        accepted_case{"all_0", repeat("0 ", 15) + "0\n", std::string(16, '\0')},
        accepted_case{"two_records_one_line", repeat(rising_run, 2), rising_bytes + rising_bytes},
        accepted_case{"one_record_two_lines", "0 1 2 3 4 5 6 7\n8 9 10 11 12 13 14 15\n", rising_bytes},
        accepted_case{"crlf", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\r\n" + rising, rising_bytes + rising_bytes},
        accepted_case{"no_final_line_feed", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15", rising_bytes},
        accepted_case{"blank_lines_tabs_runs", "\n\n0\t1  2 \t 3 4 5 6 7 8 9 10 11 12 13 14 15\n\n\v\f" + rising,
                      rising_bytes + rising_bytes},
        accepted_case{"lone_cr", "0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\r" + rising, rising_bytes + rising_bytes},
        // An editor's UTF-8 byte order mark, at the very start only.
        accepted_case{"byte_order_mark", "\xef\xbb\xbf" + rising, rising_bytes},
        accepted_case{"byte_order_mark_alone", "\xef\xbb\xbf", ""},
        // Records spread over lines in regular ways say nothing.
        accepted_case{"32_then_8_and_8", repeat(rising_run, 2) + "\n" + "0 1 2 3 4 5 6 7\r\n8 9 10 11 12 13 14 15\r\n",
                      repeat(rising_bytes, 3)},
        accepted_case{"two_records_across_three", "1 2 3 4 5 6 7 8\n" + repeat(rising, 2) + "1 2 3 4 5 6 7 8\r",
                      bytes({1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 6, 7}) +
                          bytes({8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7}) +
                          bytes({8, 9, 10, 11, 12, 13, 14, 15, 1, 2, 3, 4, 5, 6, 7, 8}),
                      ""}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Numbers, Accepted,
    testing::Values(accepted_case{"sign_zeros_and_limits", "007 +7 7 -0 +0 -000 010 0255 0000 255 +255 0 1 2 3 4",
                                  bytes({7, 7, 7, 0, 0, 0, 10, 255, 0, 255, 255, 0, 1, 2, 3, 4})},
                    accepted_case{"long_leading_zeros", std::string(100000, '0') + "7 " + fifteen,
                                  bytes({7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})},
                    accepted_case{"24_characters", std::string(21, '0') + "255 " + fifteen,
                                  bytes({255, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})}),
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
                    rejected_case{"minus_zeros_then_256", "-" + std::string(30, '0') + "256 ",
                                  "1:1: -256 (34 characters) is out of range 0..255"},
                    rejected_case{"zeros_then_256", "  +" + std::string(30, '0') + "256",
                                  "1:3: +256 (34 characters) is out of range 0..255"},
                    rejected_case{"24_characters", std::string(21, '0') + "256 ",
                                  "1:1: 000000000000000000000256 is out of range 0..255"},
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
                    rejected_case{"high_byte", "1\n\n\xe9", "3:1: expected a number, found byte 0xE9"},
                    rejected_case{"del", "1 \x7f", "1:3: expected a number, found byte 0x7F"},
                    rejected_case{"after_records", rising + rising + "  #", "3:3: expected a number, found '#'"}),
    [](const auto &c) { return std::string(c.param.name); });

// What people meet in text made elsewhere, named as they see it.
INSTANTIATE_TEST_SUITE_P(
    Characters, Rejected,
    testing::Values(
        rejected_case{"mark_elsewhere",
                      rising + "\xef\xbb\xbf"
                               "1",
                      "2:1: expected a number, found U+FEFF (a byte order mark, which only the very start of the file "
                      "may hold)"},
        rejected_case{"column_after_mark",
                      "\xef\xbb\xbf"
                      "1 x",
                      "1:3: expected a number, found 'x'"},
        rejected_case{"half_a_mark",
                      "\xef\xbb"
                      "1 2",
                      "1:1: expected a number, found byte 0xEF"},
        rejected_case{"text_ends_in_a_mark", "\xef\xbb", "1:1: expected a number, found byte 0xEF"},
        rejected_case{"utf16_be_mark",
                      std::string("\xfe\xff\0"
                                  "1",
                                  4),
                      "1:1: this is UTF-16 text (its byte order mark FE FF), not plain text: convert it first, e.g. "
                      "with iconv -f UTF-16 -t UTF-8"},
        rejected_case{"utf16_be",
                      std::string("\0"
                                  "1\0 \0"
                                  "2",
                                  6),
                      "1:1: this is UTF-16 text (a NUL in every other byte), not plain text: convert it first, e.g. "
                      "with iconv -f UTF-16 -t UTF-8"},
        rejected_case{"nul_after_the_start", std::string("1 \0 2", 5), "1:3: expected a number, found byte 0x00"},
        rejected_case{"two_nuls",
                      std::string("\0\0"
                                  "1 2",
                                  5),
                      "1:1: expected a number, found byte 0x00"},
        rejected_case{"cjk", "1 \xe4\xb8\x80", "1:3: expected a number, found U+4E00"},
        rejected_case{"emoji", "1 \xf0\x9f\x98\x80 ", "1:3: expected a number, found U+1F600"},
        rejected_case{"minus_sign",
                      "\xe2\x88\x92"
                      "1",
                      "1:1: expected a number, found U+2212 (a minus sign: here it is '-')"},
        // Bytes that are no UTF-8 character stay bytes.
        rejected_case{"not_a_continuation", "\xc3(", "1:1: expected a number, found byte 0xC3"},
        rejected_case{"overlong", "\xc0\xaf", "1:1: expected a number, found byte 0xC0"},
        rejected_case{"overlong_three", "\xe0\x80\xaf", "1:1: expected a number, found byte 0xE0"},
        rejected_case{"surrogate", "\xed\xa0\x80", "1:1: expected a number, found byte 0xED"},
        rejected_case{"last_of_unicode", "\xf4\x8f\xbf\xbf", "1:1: expected a number, found U+10FFFF"},
        // Beside the kinds people meet, characters are named by code point alone.
        rejected_case{"next_line", "\xc2\x85", "1:1: expected a number, found U+0085"},
        rejected_case{"ideographic_space", "\xe3\x80\x80",
                      "1:1: expected a number, found U+3000 (an ideographic space)"},
        rejected_case{"ideographic_comma", "\xe3\x80\x81", "1:1: expected a number, found U+3001"},
        rejected_case{"private_use", "\xee\x80\x80", "1:1: expected a number, found U+E000"},
        rejected_case{"fullwidth_full_stop", "\xef\xbc\x8e", "1:1: expected a number, found U+FF0E"},
        rejected_case{"past_unicode", "\xf4\x90\x80\x80", "1:1: expected a number, found byte 0xF4"},
        rejected_case{"utf16_le_mark",
                      std::string("\xff\xfe"
                                  "0\0 \0"
                                  "1\0",
                                  8),
                      "1:1: this is UTF-16 text (its byte order mark FF FE), not plain text: convert it first, e.g. "
                      "with iconv -f UTF-16 -t UTF-8"},
        rejected_case{"utf16_le",
                      std::string("0\0 \0"
                                  "1\0 \0"
                                  "2\0",
                                  10),
                      "1:2: this is UTF-16 text (a NUL in every other byte), not plain text: convert it first, e.g. "
                      "with iconv -f UTF-16 -t UTF-8"},
        rejected_case{"dos_end_of_file", repeat(rising, 3) + "\x1a",
                      "4:1: expected a number, found byte 0x1A (a DOS end-of-file mark)"},
        rejected_case{"no_break_space",
                      rising + "0\xc2\xa0"
                               "1 2\n",
                      "2:2: expected a digit or white space, found U+00A0 (a no-break space)"},
        rejected_case{"fullwidth_digit", "\xef\xbc\x91 2\n",
                      "1:1: expected a number, found U+FF11 (a fullwidth digit: only 0-9 are digits here)"},
        rejected_case{"arabic_indic_digit", "1 \xd9\xa2\n",
                      "1:3: expected a number, found U+0662 (an Arabic-Indic digit: only 0-9 are digits here)"},
        rejected_case{"csv", "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n",
                      "1:2: expected a digit or white space, found ',' (numbers are separated by blanks, tabs or "
                      "line ends)"},
        rejected_case{"semicolon", "1 ;2",
                      "1:3: expected a number, found ';' (numbers are separated by blanks, tabs or "
                      "line ends)"}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Incomplete, Rejected,
    testing::Values(rejected_case{"one_number", "5", "1: incomplete record: 1 of 16 numbers"},
                    rejected_case{"fifteen", fifteen, "1: incomplete record: 15 of 16 numbers"},
                    rejected_case{"after_a_record", rising + "1 2\n3\n\n\n",
                                  "3: incomplete record: 3 of 16 numbers (records stopped matching lines at line 2)"},
                    rejected_case{"then_blank_lines", "1 2 3" + std::string(70, '\n'),
                                  "1: incomplete record: 3 of 16 numbers"},
                    rejected_case{"one_then_blank_lines", rising + "9" + std::string(70, '\n'),
                                  "2: incomplete record: 1 of 16 numbers"},
                    rejected_case{"seventeen", rising + "\r\n  9", "3: incomplete record: 1 of 16 numbers"},
                    rejected_case{"one_number_too_many", rising + "0 " + rising + rising,
                                  "3: incomplete record: 1 of 16 numbers (line 2 holds 17 numbers where the layout "
                                  "has 16)"},
                    rejected_case{"then_one_lost", rising + repeat("1 ", 14) + "1\n" + rising,
                                  "3: incomplete record: 15 of 16 numbers (line 2 holds 15 numbers where the layout "
                                  "has 16)"},
                    rejected_case{"without_a_layout", "1 2 3\n4\n5 6\n",
                                  "3: incomplete record: 6 of 16 numbers (records stopped matching lines at line 1)"},
                    // Its last number read ahead, blanks after it.
                    rejected_case{"read_ahead_to_the_end", repeat(rising, 30) + "1 2 3" + std::string(100, ' '),
                                  "31: incomplete record: 3 of 16 numbers"},
                    // Lines of another layout after it say nothing of a line.
                    rejected_case{"then_another_layout", rising + "1 2 3\n4 5\n6 7 8 9\n",
                                  "4: incomplete record: 9 of 16 numbers (records stopped matching lines at line 2)"}),
    [](const auto &c) { return std::string(c.param.name); });

// Long texts, so that the window readers meet each case past their first
// window and beside their fast path.
// Forty records of varied values as text in a form that people or tools
// make: each number padded to width with pad, then separator, the last of
// each record followed by line_end instead; the last form number mixes
// them all.
struct text_form {
    std::string separator, line_end;
    std::size_t width = 0;
    char pad = ' ';
};
const text_form forms[] = {{" ", "\r\n"}, {" ", "\r"},         {"", "\n", 4},          {"  ", "\n"},
                           {"\t", "\n"},  {" ", "\n", 3, '0'}, {" \v", "\f\n", 9, '0'}};
constexpr int every_form = static_cast<int>(std::size(forms));

std::string form_text(int form)
{
    std::string text;
    for (int r = 0; r < 40; ++r) {
        const text_form &f = forms[form == every_form ? r % every_form : form];
        for (int k = 0; k < 16; ++k) {
            std::string number = std::to_string((r * 37 + k * 11) % 256);
            text += std::string(f.width > number.size() ? f.width - number.size() : 0, f.pad) + number;
            text += k == 15 ? f.line_end : f.separator;
        }
    }
    return text;
}

std::string form_bytes()
{
    std::string bytes;
    for (int r = 0; r < 40; ++r)
        for (int k = 0; k < 16; ++k)
            bytes.push_back(static_cast<char>((r * 37 + k * 11) % 256));
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Accepted,
    testing::Values(
        accepted_case{"mixed_forms",
                      repeat(rising, 5) + "  0 1\t2 3\r\n" + std::string(70, ' ') +
                          "004 5 +6 7 8 9 10 11 12 13 14 15\n" + repeat(rising, 5),
                      repeat(rising_bytes, 11)},
        accepted_case{"crlf", form_text(0), form_bytes()}, accepted_case{"lone_cr", form_text(1), form_bytes()},
        accepted_case{"od_columns", form_text(2), form_bytes()},
        accepted_case{"two_blanks", form_text(3), form_bytes()}, accepted_case{"tabs", form_text(4), form_bytes()},
        accepted_case{"zero_padded", form_text(5), form_bytes()},
        accepted_case{"nine_digits_vt_ff", form_text(6), form_bytes()},
        accepted_case{"every_form", form_text(every_form), form_bytes()},
        // Read whole, the windows start at byte 3: after three
        // blanks and 31 times "1 ", the next window starts at byte 67.
        accepted_case{"ends_at_window_edge", "   " + repeat("1 ", 31) + " 7 " + repeat(rising, 2),
                      std::string(31, '\1') + '\7' + repeat(rising_bytes, 2)},
        accepted_case{"across_window_edge", "   " + repeat("1 ", 31) + "255\n" + repeat(rising, 2),
                      std::string(31, '\1') + '\xff' + repeat(rising_bytes, 2)},
        accepted_case{"zeros_across_window_edge", "   " + repeat("1 ", 31) + " 0007 " + repeat(rising, 2),
                      std::string(31, '\1') + '\7' + repeat(rising_bytes, 2)},
        accepted_case{
            "line_end_at_window_start",
            "   " + repeat("1 ", 14) + "1" + std::string(35, ' ') + "\n" +
                "0   1   2   3   4   5   6   7   8   9   10   11   12   13   14   15\n" + repeat(rising, 2) + "1\n",
            std::string(15, '\1') + '\0' + repeat(rising_bytes.substr(1) + '\0', 2) + fifteen_bytes + '\1', ""},
        accepted_case{"second_line_end_off",
                      "   " + repeat("1 ", 31) + "1\n" + rising + "1 2 3 4 5 6 7 8\n" + rising + "1 2 3 4 5 6 7 8\n",
                      std::string(32, '\1') + rising_bytes + bytes({1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 6, 7}) +
                          bytes({8, 9, 10, 11, 12, 13, 14, 15, 1, 2, 3, 4, 5, 6, 7, 8}),
                      ""},
        // Read whole, the line that lost a number ends at the first byte of
        // the fourth window, the only line end in it.
        accepted_case{"lost_number_at_window_start",
                      "   " + repeat(repeat("1 ", 15) + "1\n", 4) + repeat("1 ", 14) + "1" + std::string(35, ' ') +
                          "\n" + repeat("1 ", 15) + "1" + std::string(40, ' ') + "\n" +
                          repeat(repeat("1 ", 15) + "1\n", 2) + repeat("1 ", 16) + "1\n" +
                          repeat(repeat("1 ", 15) + "1\n", 2),
                      std::string(176, '\1'),
                      "5: warning: line 5 holds 15 numbers where the layout has 16, and line 9 holds 17 where it has "
                      "16: the records of lines 5 to 9 are shifted"},
        // Read ahead in blocks of 100, the sixth has no line end to start a
        // run at, and a record starts at its second byte.
        accepted_case{"blocks_without_a_line_end", repeat(rising, 3) + "   " + repeat("1 ", 320) + "\n",
                      repeat(rising_bytes, 3) + std::string(320, '\1')},
        accepted_case{
            "lost_number", repeat(rising, 5) + fifteen + "\n" + repeat(rising, 5) + "1\n",
            repeat(rising_bytes, 5) + fifteen_bytes + '\0' + repeat(rising_bytes.substr(1) + '\0', 4) + fifteen_bytes +
                '\1',
            "6: warning: line 6 holds 15 numbers where the layout has 16, and line 12 holds 1 where it has 16: the "
            "records of lines 6 to 12 are shifted"},
        // Read whole, the first windows hold two lines each, both ending on
        // a record boundary.
        accepted_case{
            "lost_number_after_short_lines",
            "  \n" + repeat(repeat("1 ", 15) + "1\n", 4) + fifteen + "\n" + repeat(rising, 2) + "1\n",
            std::string(64, '\1') + fifteen_bytes + '\0' + fifteen_bytes + '\0' + fifteen_bytes + '\1',
            "6: warning: line 6 holds 15 numbers where the layout has 16, and line 9 holds 1 where it has 16: the "
            "records of lines 6 to 9 are shifted"}),
    [](const auto &c) { return std::string(c.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Windows, Rejected,
    testing::Values(
        rejected_case{"out_of_range_late", repeat(rising, 4) + "1 2 3 256 5\n", "5:7: 256 is out of range 0..255"},
        rejected_case{"256_among_zeros", repeat("0 ", 40) + "256 " + repeat("0 ", 40),
                      "1:81: 256 is out of range 0..255"},
        rejected_case{"999_in_a_window", repeat(rising, 4) + "99 999 " + repeat(rising, 4),
                      "5:4: 999 is out of range 0..255"},
        rejected_case{"300_in_a_window", repeat(rising, 4) + "99 300 " + repeat(rising, 4),
                      "5:4: 300 is out of range 0..255"},
        rejected_case{"four_digits", repeat(rising, 4) + "1000 " + repeat(rising, 4),
                      "5:1: 1000 is out of range 0..255"},
        rejected_case{"across_window_edge", "   " + repeat("1 ", 31) + "256 " + repeat(rising, 2),
                      "1:66: 256 is out of range 0..255"},
        rejected_case{"thousands_before_window_edge", "   " + repeat("1 ", 31) + " 1000 " + repeat(rising, 2),
                      "1:67: 1000 is out of range 0..255"},
        rejected_case{"three_digits_before_window_edge", "   " + repeat("1 ", 30) + " 01000 " + repeat(rising, 2),
                      "1:65: 01000 is out of range 0..255"},
        rejected_case{"four_digits_after_pairs", repeat("10  ", 20) + "1000  " + repeat("10  ", 20),
                      "1:81: 1000 is out of range 0..255"},
        rejected_case{"letter_after_windows", repeat(rising, 4) + "7 q " + repeat(rising, 4),
                      "5:3: expected a number, found 'q'"},
        rejected_case{"high_byte_after_windows", repeat(rising, 4) + "7\xa0" + repeat(rising, 4),
                      "5:2: expected a digit or white space, found byte 0xA0"},
        rejected_case{"colon_after_windows", repeat(rising, 4) + "7 1:2 " + repeat(rising, 4),
                      "5:4: expected a digit or white space, found ':'"},
        rejected_case{"slash_after_windows", repeat(rising, 4) + "7/8 " + repeat(rising, 4),
                      "5:2: expected a digit or white space, found '/'"},
        rejected_case{"shift_out_after_windows", repeat(rising, 4) + "7 \x0e " + repeat(rising, 4),
                      "5:3: expected a number, found byte 0x0E"},
        rejected_case{"shift_out_after_window_edge", "   " + repeat("1 ", 31) + "17\x0e " + repeat(rising, 2),
                      "1:68: expected a digit or white space, found byte 0x0E"},
        // Read whole, windows with a tab: a line feed at the second byte and
        // a carriage return after it; a lone carriage return at the first.
        rejected_case{"line_feed_second_in_a_window", "   " + repeat("1 ", 32) + "1\n\t2\r" + repeat(rising, 3) + "x",
                      "6:1: expected a number, found 'x'"},
        rejected_case{"cr_first_in_a_window", "   " + repeat("1 ", 32) + "\r\t2 " + repeat(rising, 3) + "x",
                      "5:1: expected a number, found 'x'"},
        rejected_case{"incomplete_after_windows", repeat(rising, 4) + "1 2\n\n",
                      "5: incomplete record: 2 of 16 numbers"}),
    [](const auto &c) { return std::string(c.param.name); });

// Records of the numbers 0, 1, 2, ... laid out counts[0], counts[1], ...
// numbers per line over and over, each line ended by line_end; line `lost`
// holds one number fewer and line `added` one more (0: none).
std::string laid_out(const std::vector<int> &counts, int records, int lost = 0, int added = 0,
                     const std::string &line_end = "\n")
{
    std::string text;
    const int total = 16 * records;
    for (int n = 0, line = 1; n < total; ++line) {
        const int here = counts[static_cast<std::size_t>(line - 1) % counts.size()] - (line == lost) + (line == added);
        for (int i = 0; i < here && n < total; ++i, ++n)
            text += std::to_string(n % 256) + (i + 1 < here ? " " : "");
        text += line_end;
    }
    return text;
}

// The record bytes of laid_out(..., records, ...) and wrapped(records, ...).
std::string counting(int records)
{
    std::string bytes;
    for (int n = 0; n < 16 * records; ++n)
        bytes.push_back(static_cast<char>(n % 256));
    return bytes;
}

// The numbers of records of canonical text wrapped into lines of at most
// `width` characters, as fmt and fold -s do.
std::string wrapped(int records, std::size_t width)
{
    std::string text, line;
    for (int n = 0; n < 16 * records; ++n) {
        const std::string number = std::to_string(n % 256);
        if (!line.empty() && line.size() + 1 + number.size() > width) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + number;
    }
    return text + line + "\n";
}

// Every regular layout, and its changes, says nothing.
INSTANTIATE_TEST_SUITE_P(
    Regular, Accepted,
    testing::Values(accepted_case{"canonical", laid_out({16}, 20), counting(20)},
                    accepted_case{"two_records_per_line", laid_out({32}, 20), counting(20)},
                    accepted_case{"three_records_per_line", laid_out({48}, 21), counting(21)},
                    accepted_case{"8_and_8", laid_out({8, 8}, 20), counting(20)},
                    accepted_case{"10_and_6", laid_out({10, 6}, 20), counting(20)},
                    accepted_case{"4_per_line", laid_out({4}, 20), counting(20)},
                    accepted_case{"16_then_32_then_8_and_8",
                                  laid_out({16}, 6) + laid_out({32}, 6) + laid_out({8, 8}, 6), repeat(counting(6), 3)},
                    accepted_case{"8_and_8_then_4_then_16", laid_out({8, 8}, 6) + laid_out({4}, 6) + laid_out({16}, 6),
                                  repeat(counting(6), 3)},
                    accepted_case{"no_final_line_feed",
                                  laid_out({8, 8}, 20, 0, 0, "\n").substr(0, laid_out({8, 8}, 20).size() - 1),
                                  counting(20)},
                    accepted_case{"blank_lines", laid_out({10, 6}, 20, 0, 0, "\n\n"), counting(20)},
                    accepted_case{"blank_lines_8_and_8", laid_out({8, 8}, 40, 0, 0, "\n\n"), counting(40)},
                    accepted_case{"crlf", laid_out({8, 8}, 20, 0, 0, "\r\n"), counting(20)},
                    accepted_case{"lone_cr", laid_out({16}, 20, 0, 0, "\r"), counting(20)},
                    accepted_case{"trailing_blanks", laid_out({32}, 20, 0, 0, "  \n"), counting(20)},
                    // Text of no regular layout says nothing either.
                    accepted_case{"fmt", wrapped(300, 75), counting(300)},
                    accepted_case{"fold_s_80", wrapped(300, 80), counting(300)},
                    accepted_case{"od_w10", laid_out({10}, 100), counting(100)},
                    accepted_case{"12_per_line", laid_out({12}, 100), counting(100)}),
    [](const auto &c) { return std::string(c.param.name); });

// A number lost on one line and one added further on, in every layout.
INSTANTIATE_TEST_SUITE_P(
    Slips, Accepted,
    testing::Values(
        accepted_case{"canonical", laid_out({16}, 20, 5, 9), counting(20),
                      "5: warning: line 5 holds 15 numbers where the layout has 16, and line 9 holds 17 where it has "
                      "16: the records of lines 5 to 9 are shifted"},
        accepted_case{"canonical_at_line_2", laid_out({16}, 20, 2, 4), counting(20),
                      "2: warning: line 2 holds 15 numbers where the layout has 16, and line 4 holds 17 where it has "
                      "16: the records of lines 2 to 4 are shifted"},
        accepted_case{"two_records_per_line", laid_out({32}, 20, 3, 6), counting(20),
                      "3: warning: line 3 holds 31 numbers where the layout has 32, and line 6 holds 33 where it has "
                      "32: the records of lines 3 to 6 are shifted"},
        accepted_case{"8_and_8", laid_out({8, 8}, 20, 3, 6), counting(20),
                      "3: warning: line 3 holds 7 numbers where the layout has 8, and line 6 holds 9 where it has 8: "
                      "the records of lines 3 to 6 are shifted"},
        accepted_case{"10_and_6", laid_out({10, 6}, 20, 5, 10), counting(20),
                      "5: warning: line 5 holds 9 numbers where the layout has 10, and line 10 holds 7 where it has 6: "
                      "the records of lines 5 to 10 are shifted"},
        // Lost on a record's second line: records stopped matching at its first.
        accepted_case{"10_and_6_on_the_6", laid_out({10, 6}, 20, 4, 9), counting(20),
                      "3: warning: line 4 holds 5 numbers where the layout has 6, and line 9 holds 11 where it has 10: "
                      "the records of lines 3 to 9 are shifted"},
        accepted_case{"8_and_8_blank_lines", laid_out({8, 8}, 40, 33, 38, "\n\n"), counting(40),
                      "65: warning: line 65 holds 7 numbers where the layout has 8, and line 75 holds 9 where it has "
                      "8: the records of lines 65 to 75 are shifted"},
        accepted_case{"4_per_line", laid_out({4}, 20, 9, 14), counting(20),
                      "9: warning: line 9 holds 3 numbers where the layout has 4, and line 14 holds 5 where it has 4: "
                      "the records of lines 9 to 14 are shifted"},
        // Later, where the reader is sure of the layout: lost on a second
        // line; in lines read ahead; in lines of sixteen records.
        accepted_case{
            "10_and_6_on_the_6_later", laid_out({10, 6}, 20, 8, 13), counting(20),
            "7: warning: line 8 holds 5 numbers where the layout has 6, and line 13 holds 11 where it has 10: "
            "the records of lines 7 to 13 are shifted"},
        accepted_case{
            "8_and_8_later", laid_out({8, 8}, 60, 81, 86), counting(60),
            "81: warning: line 81 holds 7 numbers where the layout has 8, and line 86 holds 9 where it has 8: "
            "the records of lines 81 to 86 are shifted"},
        accepted_case{
            "8_and_8_blank_lines_later", laid_out({8, 8}, 80, 151, 156, "\n\n"), counting(80),
            "301: warning: line 301 holds 7 numbers where the layout has 8, and line 311 holds 9 where it has "
            "8: the records of lines 301 to 311 are shifted"},
        accepted_case{"256_per_line", laid_out({256}, 208, 11, 13), counting(208),
                      "11: warning: line 11 holds 255 numbers where the layout has 256, and line 13 holds 257 where it "
                      "has 256: the records of lines 11 to 13 are shifted"},
        // An added number first, then a lost one; only the first slip is told.
        accepted_case{"added_then_lost_twice", laid_out({16}, 20, 7, 5) + laid_out({16}, 20, 9, 13),
                      repeat(counting(20), 2),
                      "5: warning: line 5 holds 17 numbers where the layout has 16, and line 7 holds 15 where it has "
                      "16: the records of lines 5 to 7 are shifted"}),
    [](const auto &c) { return std::string(c.param.name); });

TEST(Reader, RandomSeparatorsSayNothing)
{
    // Valid text of no layout: blanks, two blanks, tabs, line feeds, CR LF,
    // vertical tabs and form feeds at random between numbers, as trackenc
    // reads it; a line of sixteen numbers or a group of lines now and then
    // is chance, not a layout.
    const char *const separators[] = {" ", "  ", "\t", "\n", "\r\n", "\v", "\f"};
    const auto window = track::first_that_runs(track::window_kernels());
    std::mt19937 random(2612);
    for (int file = 0; file < 200; ++file) {
        const int numbers = 16 * (100 + static_cast<int>(random() % 4901));
        std::string text;
        for (int n = 0; n < numbers; ++n)
            text += std::to_string(random() % 256) + separators[random() % std::size(separators)];
        const reading r = read_in_blocks(text, std::size_t{1} << 18, window, std::size_t{1} << 16);
        EXPECT_EQ(r.fault, "");
        EXPECT_EQ(r.warning, "") << "file " << file;
    }
}

TEST(Reader, WindowReadersAgreeOnRandomText)
{
    // Mostly the canonical form, with every kind of departure from it
    // sprinkled in; each text is compared against the byte-by-byte way,
    // warnings included.
    const char *const departures[] = {"  ",  "\t",   "\r\n", "\n\n", "+",    "-",  "0",      "00",     "256",
                                      "999", "1000", "x",    "\0",   "\xff", ".",  "\v",     "\f",     "-0",
                                      "255", "\r",   "0000", "\x7f", " \r",  "\n", "\r\r\n", " 0001 ", "000256 "};
    const char *const line_ends[] = {"\n", "\r\n", "\r"};
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
            // Records and lines out of step now and then, and every line end.
            text += k % 16 == (round % 5 == 0 ? 14 : 15) ? line_ends[round % 3] : " ";
        }
        if (round % 3 == 0)
            text.resize(random() % (text.size() + 1));  // cut anywhere
        read_all(text);
    }
}

TEST(Reader, CountsColumnsPast4GiB)
{
    // More than 4 GiB of blanks on one line, in blocks as trackenc reads
    // them, the fault's column past 32 bits; on 32-bit processors too.
    if (track_test::emulator[0] != '\0')
        GTEST_SKIP() << "4 GiB take minutes under an emulator";
    track::text_reader r;
    r.window = track::first_that_runs(track::window_kernels());
    static char blanks[track::text_block_size];
    std::memset(blanks, ' ', sizeof blanks);
    static unsigned char out[track::text_output_bound(sizeof blanks)];
    std::size_t first = 0;
    for (std::uint64_t at = 0; at < (std::uint64_t{1} << 32) + 5; at += sizeof blanks)
        EXPECT_EQ(track::read_text(r, blanks, sizeof blanks, out, track::text_ahead{}, first), 0u);
    EXPECT_EQ(track::read_text(r, "1 x", 3, out, track::text_ahead{}, first), 0u);
    char where[100];
    track::describe_fault(r, where, sizeof where);
    EXPECT_STREQ(where, "1:4295229443: expected a number, found 'x'");
}

}  // namespace
