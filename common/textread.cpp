#include "textread.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

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

void set_fault(text_reader &r, text_fault fault, std::uint64_t line, std::uint64_t column, int found)
{
    r.fault = fault;
    r.fault_line = line;
    r.fault_column = column;
    r.found = found;
}

void begin_number(text_reader &r, std::uint64_t at)
{
    r.token_line = r.lines.line;
    r.token_column = at - r.line_start + 1;
    r.token_length = 0;
    r.significant = 0;
    r.negative = false;
    r.value = 0;
}

void append(text_reader &r, unsigned char c)
{
    if (r.token_length < sizeof r.token_head)
        r.token_head[r.token_length] = static_cast<char>(c);
    ++r.token_length;
    if (is_digit(c) && (r.significant != 0 || c != '0')) {
        if (r.significant < sizeof r.digits_head)
            r.digits_head[r.significant] = static_cast<char>(c);
        ++r.significant;
    }
}

// The number just read is complete: stores it at out[n]; false once it
// faulted.
bool end_number(text_reader &r, unsigned char *out, std::size_t &n)
{
    r.state = text_reader::in::gap;
    if (r.value > max_value || (r.negative && r.value != 0)) {
        set_fault(r, text_fault::out_of_range, r.token_line, r.token_column, -1);
        return false;
    }
    r.lines.last_line = r.token_line;
    ++r.lines.numbers;
    out[n++] = static_cast<unsigned char>(r.value);
    return true;
}

// The numbers out[0..n) are read: returns the bytes of the whole records
// among them, keeping the rest for the next block.
std::size_t whole_records(text_reader &r, unsigned char *out, std::size_t n)
{
    const std::size_t whole = n - n % record_size;
    r.filled = static_cast<int>(n - whole);
    std::memcpy(r.pending, out + whole, n - whole);
    return whole;
}

// "'x'" for a printable byte, "byte 0xNN" for any other, "end of file".
void describe_found(int found, char *buffer, std::size_t size)
{
    if (found < 0)
        (void)std::snprintf(buffer, size, "end of file");
    else if (found >= 0x20 && found < 0x7f)
        (void)std::snprintf(buffer, size, "'%c'", found);
    else
        (void)std::snprintf(buffer, size, "byte 0x%02X", static_cast<unsigned>(found));
}

// Reads the text from `from` to `to` in the block that starts at begin, at
// r.offset in the text, storing each number at out[n++]; false at a fault.
bool read_range(text_reader &r, const unsigned char *begin, const unsigned char *from, const unsigned char *to,
                unsigned char *out, std::size_t &n)
{
    const unsigned char *p = from;
    const unsigned char *const end = to;
    const std::uint64_t base = r.offset;
    auto offset_of = [&](const unsigned char *at) { return base + static_cast<std::uint64_t>(at - begin); };

    // Where the fast path may be tried next: a window that takes nothing
    // (a sign, a stray byte) sends the next 64 bytes the byte-by-byte way.
    const unsigned char *next_window = r.window == nullptr ? end : begin + 3;
    while (p < end) {
        // Between numbers the text goes 64 bytes at a time; the window needs
        // three bytes of this block before it.
        if (p >= next_window && r.state == text_reader::in::gap && end - p >= window_size) {
            const window_run run = r.window(p, end, out + n, r.lines);
            if (run.consumed == 0) {
                next_window = p + window_size;
            } else {
                n += run.numbers;
                if (run.line_start != 0) {
                    r.line_start = offset_of(p) + run.line_start;
                    r.after_cr = run.after_cr;
                }
                p += run.consumed;
                continue;
            }
        }
        const unsigned char c = *p;
        switch (r.state) {
        case text_reader::in::gap:
            if (is_space(c)) {
                // A line ends at a line feed, a carriage return, or both.
                if (c == '\n' || c == '\r') {
                    const std::uint64_t at = offset_of(p);
                    if (c == '\r' || !r.after_cr || at != r.line_start)
                        end_line(r.lines);
                    r.line_start = at + 1;
                    r.after_cr = c == '\r';
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
                set_fault(r, text_fault::not_a_number, r.lines.line, offset_of(p) - r.line_start + 1, c);
            }
            break;
        case text_reader::in::sign:
            if (is_digit(c)) {
                r.state = text_reader::in::digits;
                r.value = c - '0';
                append(r, c);
            } else {
                set_fault(r, text_fault::no_digit, r.lines.line, offset_of(p) - r.line_start + 1, c);
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
                if (!end_number(r, out, n))
                    break;
                continue;  // the blank is taken as a gap
            } else {
                set_fault(r, text_fault::bad_ending, r.lines.line, offset_of(p) - r.line_start + 1, c);
            }
            break;
        }
        if (r.fault != text_fault::none)
            return false;
        ++p;
    }
    return true;
}

// Takes the run that a's block was read ahead with, its text before having
// been read (r.lines.numbers being on a record boundary): its counts, made as
// from line 1 with no number before, differ from r's only by where they
// start, as the lines before leave nothing open.
void take_run(text_reader &r, const text_ahead &a)
{
    text_lines &l = r.lines;
    const text_lines &run = a.lines;
    const std::uint64_t before = l.line - 1;
    auto line = [before](std::uint64_t in_run) { return in_run != 0 ? before + in_run : 0; };
    if (l.split_line == 0) {
        l.split_line = line(run.split_line);
        l.split_count = run.split_count;
        l.split_off_line = line(run.split_off_line);
        l.split_off_count = run.split_off_count;
    }
    l.off_line = line(run.off_line);
    l.off_count = run.off_count;
    l.last_line = run.numbers != 0 ? line(run.last_line) : l.last_line;
    l.line = line(run.line);
    l.line_first = l.numbers + run.line_first;
    l.numbers += run.numbers;
    if (a.run.line_start != 0) {
        r.line_start = r.offset + a.start + a.run.line_start;
        r.after_cr = a.run.after_cr;
    }
}

}  // namespace

std::size_t read_text(text_reader &r, const char *text, std::size_t size, unsigned char *out)
{
    std::size_t first = 0;
    return read_text(r, text, size, out, text_ahead{}, first);
}

std::size_t read_text(text_reader &r, const char *text, std::size_t size, unsigned char *out, const text_ahead &a,
                      std::size_t &first)
{
    first = 0;
    if (r.fault != text_fault::none)
        return 0;
    const auto *begin = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *from = begin;
    // Numbers are stored at out one byte each, after those of the pending record.
    std::memcpy(out, r.pending, static_cast<std::size_t>(r.filled));
    std::size_t n = static_cast<std::size_t>(r.filled);
    if (a.start != 0) {
        // Those before the run are moved up to end where its numbers begin;
        // where the run's line starts inside a record (seldom), the run is
        // read again.
        from += a.start;
        if (!read_range(r, begin, begin, from, out, n))
            return 0;
        first = ahead_room - n;
        std::memmove(out + first, out, n);
        if (r.lines.numbers % record_size == 0) {
            take_run(r, a);
            n += a.run.numbers;
            from += a.run.consumed;
        }
    }
    if (!read_range(r, begin, from, begin + size, out + first, n))
        return 0;
    r.offset += size;
    return whole_records(r, out + first, n);
}

void read_ahead(window_reader window, const char *text, std::size_t size, std::size_t share, unsigned char *out,
                text_ahead &a)
{
    a.start = 0;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    const std::size_t end = std::min(size, share);
    // The run starts after a line end, with the window's three bytes before
    // it (a line feed after a carriage return the window knows to be none).
    // A run that takes nothing changes nothing where it is taken.
    std::size_t start = 0;
    for (std::size_t i = 2; start == 0 && i < std::min(end, ahead_search); ++i) {
        if (t[i] == '\n' || t[i] == '\r')
            start = i + 1;
    }
    if (start == 0)
        return;
    a.lines = text_lines{};
    a.run = window(t + start, t + end, out + ahead_room, a.lines);
    a.start = start;
}

std::size_t finish_text(text_reader &r, unsigned char *out)
{
    if (r.fault != text_fault::none)
        return 0;
    if (r.state == text_reader::in::sign) {
        set_fault(r, text_fault::no_digit, r.lines.line, r.offset - r.line_start + 1, -1);
        return 0;
    }
    std::memcpy(out, r.pending, static_cast<std::size_t>(r.filled));
    std::size_t n = static_cast<std::size_t>(r.filled);
    if (r.state == text_reader::in::digits && !end_number(r, out, n))
        return 0;
    end_line(r.lines);  // a last line without its line feed
    const std::size_t whole = whole_records(r, out, n);
    if (r.filled != 0)
        set_fault(r, text_fault::incomplete, r.lines.last_line, 0, -1);
    return whole;
}

void describe_fault(const text_reader &r, char *buffer, std::size_t size)
{
    char found[16];
    describe_found(r.found, found, sizeof found);
    const std::uint64_t line = r.fault_line;
    const std::uint64_t column = r.fault_column;
    switch (r.fault) {
    case text_fault::none:
        (void)std::snprintf(buffer, size, "no fault");
        break;
    case text_fault::not_a_number:
        (void)std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a number, found %s", line, column, found);
        break;
    case text_fault::no_digit:
        (void)std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a digit after '%c', found %s", line,
                            column, r.token_head[0], found);
        break;
    case text_fault::bad_ending:
        (void)std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": expected a digit or white space, found %s", line,
                            column, found);
        break;
    case text_fault::out_of_range:
        if (r.token_length <= sizeof r.token_head)
            (void)std::snprintf(buffer, size, "%" PRIu64 ":%" PRIu64 ": %.*s is out of range 0..%d", line, column,
                                static_cast<int>(r.token_length), r.token_head, max_value);
        else  // a number that long is shown by its sign and significant digits
            (void)std::snprintf(
                buffer, size, "%" PRIu64 ":%" PRIu64 ": %s%.*s%s (%" PRIu64 " characters) is out of range 0..%d", line,
                column,
                r.token_head[0] == '-'   ? "-"
                : r.token_head[0] == '+' ? "+"
                                         : "",
                static_cast<int>(std::min<std::uint64_t>(r.significant, sizeof r.digits_head)), r.digits_head,
                r.significant > sizeof r.digits_head ? "..." : "", r.token_length, max_value);
        break;
    case text_fault::incomplete:
        if (r.lines.off_line != 0 && r.lines.off_line < line)
            (void)std::snprintf(buffer, size,
                                "%" PRIu64 ": incomplete record: %d of %d numbers (records stopped matching lines at "
                                "line %" PRIu64 ")",
                                line, r.filled, field_count, r.lines.off_line);
        else
            (void)std::snprintf(buffer, size, "%" PRIu64 ": incomplete record: %d of %d numbers", line, r.filled,
                                field_count);
        break;
    }
}

bool describe_layout(const text_reader &r, char *buffer, std::size_t size)
{
    const text_lines &l = r.lines;
    if (l.split_line == 0)
        return false;
    constexpr const char *words[] = {"two", "three", "four", "five", "six", "seven", "eight", "nine", "ten"};
    const std::uint64_t records = l.split_count / record_size + 1;
    char count[24];
    if (records - 2 < std::size(words))
        (void)std::snprintf(count, sizeof count, "%s", words[records - 2]);
    else
        (void)std::snprintf(count, sizeof count, "%" PRIu64, records);
    (void)std::snprintf(buffer, size,
                        "%" PRIu64 ": warning: %" PRIu64 " numbers here, so line %" PRIu64 " holds its %" PRIu64
                        " numbers across %s records",
                        l.split_off_line, l.split_off_count, l.split_line, l.split_count, count);
    return true;
}

}  // namespace track
