#include "textread.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace track {

namespace {

bool is_space(unsigned char c)
{
    // blank, or tab, line feed, vertical tab, form feed, carriage return
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(unsigned char c)
{
    return static_cast<unsigned>(c - '0') < 10;
}

// Puts a number into the record; when that completes it, stores its bytes.
std::size_t take(text_reader &r, int value, unsigned char *out)
{
    r.record.*fields[r.filled] = value;
    if (++r.filled < field_count)
        return 0;
    r.filled = 0;
    record_to_bytes(r.record, out);
    return record_size;
}

void set_fault(text_reader &r, text_fault fault, std::uint64_t line, std::uint64_t column, int found)
{
    r.fault = fault;
    r.fault_line = line;
    r.fault_column = column;
    r.found = found;
}

void begin_number(text_reader &r, std::uint64_t at)
{
    r.token_line = r.line;
    r.token_column = at - r.line_start + 1;
    r.token_length = 0;
    r.negative = false;
    r.value = 0;
}

void append(text_reader &r, unsigned char c)
{
    if (r.token_length < sizeof r.token_head)
        r.token_head[r.token_length] = static_cast<char>(c);
    ++r.token_length;
}

// The number just read is complete; false once it faulted.
bool end_number(text_reader &r, unsigned char *out, std::size_t &stored)
{
    r.state = text_reader::in::gap;
    if (r.value > max_value || (r.negative && r.value != 0)) {
        set_fault(r, text_fault::out_of_range, r.token_line, r.token_column, -1);
        return false;
    }
    r.last_line = r.token_line;
    stored += take(r, static_cast<int>(r.value), out + stored);
    return true;
}

// "'x'" for a printable byte, "byte 0xNN" for any other, "end of file".
void describe_found(int found, char *buffer, std::size_t size)
{
    if (found < 0)
        std::snprintf(buffer, size, "end of file");
    else if (found >= 0x20 && found < 0x7f)
        std::snprintf(buffer, size, "'%c'", found);
    else
        std::snprintf(buffer, size, "byte 0x%02X", static_cast<unsigned>(found));
}

}  // namespace

std::size_t read_text(text_reader &r, const char *text, std::size_t size, unsigned char *out)
{
    if (r.fault != text_fault::none)
        return 0;
    const auto *begin = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *p = begin;
    const unsigned char *end = begin + size;
    const std::uint64_t base = r.offset;
    auto offset_of = [&](const unsigned char *at) { return base + static_cast<std::uint64_t>(at - begin); };
    std::size_t stored = 0;

    while (p < end) {
        if (r.state == text_reader::in::gap) {
            // The common case, a number of one to three digits and a single
            // blank or line feed, is taken four bytes at a time without a
            // branch per byte. Anything else goes the byte-by-byte way below.
            while (end - p >= 4) {
                std::uint32_t word;
                std::memcpy(&word, p, sizeof word);
                std::uint32_t x = word ^ 0x30303030u;  // digits become 0..9
                // Bit 7 of a byte is set where x is 10 or more: not a digit.
                // Carries only reach bytes above the first non-digit.
                std::uint32_t other = ((x + 0x76767676u) | x) & 0x80808080u;
                auto digits = static_cast<unsigned>(std::countr_zero(other)) / 8;
                if (digits - 1 >= 3)
                    break;
                unsigned char after = p[digits];
                if (after != ' ' && after != '\n')
                    break;
                // Align the digits to the right of the low three bytes.
                std::uint32_t y = (x << (8 * (3 - digits))) & 0x00ffffffu;
                unsigned value = (y & 0xffu) * 100 + ((y >> 8) & 0xffu) * 10 + (y >> 16);
                if (value > max_value)
                    break;
                p += digits + 1;
                r.last_line = r.line;
                if (after == '\n') {
                    ++r.line;
                    r.line_start = offset_of(p);
                }
                stored += take(r, static_cast<int>(value), out + stored);
            }
            if (p == end)
                break;
        }

        unsigned char c = *p;
        switch (r.state) {
        case text_reader::in::gap:
            if (is_space(c)) {
                if (c == '\n') {
                    ++r.line;
                    r.line_start = offset_of(p) + 1;
                }
            } else if (is_digit(c)) {
                begin_number(r, offset_of(p));
                r.state = text_reader::in::digits;
                r.value = c - '0';
                append(r, c);
            } else if (c == '+' || c == '-') {
                begin_number(r, offset_of(p));
                r.state = text_reader::in::sign;
                r.negative = c == '-';
                append(r, c);
            } else {
                set_fault(r, text_fault::not_a_number, r.line, offset_of(p) - r.line_start + 1, c);
            }
            break;
        case text_reader::in::sign:
            if (is_digit(c)) {
                r.state = text_reader::in::digits;
                r.value = c - '0';
                append(r, c);
            } else {
                set_fault(r, text_fault::no_digit, r.line, offset_of(p) - r.line_start + 1, c);
            }
            break;
        case text_reader::in::digits:
            if (is_digit(c)) {
                // Held at 256: any larger number is as much out of range.
                r.value = r.value * 10 + static_cast<unsigned>(c - '0');
                if (r.value > max_value + 1)
                    r.value = max_value + 1;
                append(r, c);
            } else if (is_space(c)) {
                if (!end_number(r, out, stored))
                    break;
                continue;  // the blank is taken as a gap
            } else {
                set_fault(r, text_fault::bad_ending, r.line, offset_of(p) - r.line_start + 1, c);
            }
            break;
        }
        if (r.fault != text_fault::none)
            return stored;
        ++p;
    }
    r.offset = offset_of(end);
    return stored;
}

std::size_t finish_text(text_reader &r, unsigned char *out)
{
    std::size_t stored = 0;
    if (r.fault != text_fault::none)
        return 0;
    if (r.state == text_reader::in::sign) {
        set_fault(r, text_fault::no_digit, r.line, r.offset - r.line_start + 1, -1);
        return 0;
    }
    if (r.state == text_reader::in::digits && !end_number(r, out, stored))
        return 0;
    if (r.filled != 0) {
        set_fault(r, text_fault::incomplete, r.last_line, 0, -1);
        return 0;
    }
    return stored;
}

void describe_fault(const text_reader &r, char *buffer, std::size_t size)
{
    char found[16];
    describe_found(r.found, found, sizeof found);
    const std::uint64_t line = r.fault_line;
    const std::uint64_t column = r.fault_column;
    switch (r.fault) {
    case text_fault::none:
        std::snprintf(buffer, size, "no fault");
        break;
    case text_fault::not_a_number:
        std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a number, found %s", line, column, found);
        break;
    case text_fault::no_digit:
        std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a digit after '%c', found %s", line,
                      column, r.token_head[0], found);
        break;
    case text_fault::bad_ending:
        std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a digit or white space, found %s", line,
                      column, found);
        break;
    case text_fault::out_of_range: {
        auto shown = static_cast<int>(sizeof r.token_head);
        if (r.token_length <= sizeof r.token_head)
            std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": %.*s is out of range 0..%d", line, column,
                          static_cast<int>(r.token_length), r.token_head, max_value);
        else  // a number that long is shown by its start and its length
            std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": %.*s... (%" PRIu64
                          " characters) is out of range 0..%d", line, column, shown, r.token_head,
                          r.token_length, max_value);
        break;
    }
    case text_fault::incomplete:
        std::snprintf(buffer, size, "%" PRIu64 ": incomplete record: %d of %d numbers", line, r.filled,
                      field_count);
        break;
    }
}

}  // namespace track
