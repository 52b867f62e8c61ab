#include "reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "chars.h"

namespace track {

namespace {

void set_fault(text_reader &r, text_fault fault, std::uint64_t line, std::uint64_t column, int found,
               std::uint64_t offset = 0)
{
    r.fault = fault;
    r.fault_line = line;
    r.fault_column = column;
    r.found = found;
    r.found_offset = offset;
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

// The bytes of the block at `offset` in the text that name a byte fault: the
// first bytes of the text, and those from the offending byte on. Where the
// block ends too soon for them, the fault is held until the next ones come.
void note_found(text_reader &r, const unsigned char *block, std::uint64_t offset, std::size_t size)
{
    if (r.found < 0)
        return;  // a fault at a number or at the end names no byte
    const std::uint64_t end = offset + size;
    for (std::uint64_t at = r.found_offset + r.found_size;
         r.found_size < sizeof r.found_bytes && at >= offset && at < end; ++at)
        r.found_bytes[r.found_size++] = block[at - offset];
    const bool more =
        (r.found >= 0x80 && r.found_size < sizeof r.found_bytes) || (r.found_offset < 2 && r.head_size < sizeof r.head);
    if (r.fault != text_fault::none && more) {
        r.held = r.fault;
        r.fault = text_fault::none;
    } else if (r.held != text_fault::none && !more) {
        r.fault = r.held;
        r.held = text_fault::none;
    }
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
        const std::uint64_t at = offset_of(p);
        text_fault fault = text_fault::none;
        switch (r.state) {
        case text_reader::in::gap:
            if (is_line_break(c)) {
                if (ends_line(c, r.after_cr && at == r.line_start))
                    end_line(r.lines);
                r.line_start = at + 1;
                r.after_cr = c == '\r';
            } else if (is_digit(c)) {
                begin_number(r, at);
                r.state = text_reader::in::digits;
                continue;  // the digit is read as the number's first
            } else if (c == '+' || c == '-') {
                begin_number(r, at);
                r.state = text_reader::in::sign;
                r.negative = c == '-';
                append(r, c);
            } else if (!is_space(c)) {
                fault = text_fault::not_a_number;
            }
            break;
        case text_reader::in::sign:
            if (!is_digit(c)) {
                fault = text_fault::no_digit;
                break;
            }
            r.state = text_reader::in::digits;
            continue;
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
                fault = text_fault::bad_ending;
            }
            break;
        }
        if (fault != text_fault::none)
            set_fault(r, fault, r.lines.line, at - r.line_start + 1, c, at);
        if (r.fault != text_fault::none)
            return false;
        ++p;
    }
    return true;
}

// Takes the run that a's block was read ahead with, the text before it
// having been read, where the run took the lines after it as r would have
// (layout.h). Its counts, made as from line 1 with no number before,
// differ from r's only by where they start. False where it did not.
bool take_run(text_reader &r, const text_ahead &a)
{
    text_lines &l = r.lines;
    const text_lines &run = a.lines;
    if (!runs_on(l, a.layout, run))
        return false;
    const std::uint64_t before = l.line - 1;
    auto line = [before](std::uint64_t in_run) { return in_run != 0 ? before + in_run : 0; };
    auto slip = [&line](text_slip s) {
        s.line = line(s.line);
        s.lost = line(s.lost);
        s.back = line(s.back);
        return s;
    };
    const text_lines was = l;
    if (run.slow_lines != 0 || l.steady == 0) {
        // It judged lines of its own, or r keeps its place in the layout
        // itself: all the run knows is r's now.
        l = run;
        l.origin = was.numbers + run.origin;
        l.group_line = line(run.group_line);
        l.open = slip(run.open);
        l.broken = line(run.broken);
        l.pending = slip(run.pending);
        l.found = was.found.line != 0 ? was.found : slip(run.found);
        l.slow_lines = was.slow_lines + run.slow_lines;
    }
    l.line = line(run.line);
    l.numbers = was.numbers + run.numbers;
    l.line_first = was.numbers + run.line_first;
    l.last_line = run.numbers != 0 ? line(run.last_line) : was.last_line;
    if (a.run.line_start != 0) {
        r.line_start = r.offset + a.start + a.run.line_start;
        r.after_cr = a.run.after_cr;
    }
    return true;
}

// Whether the lines from `at` on, those without numbers aside, hold the
// counts of a group of l's layout, as they do where one starts; where every
// line of the layout holds the same count, a run may start at any line.
bool group_starts(const unsigned char *t, std::size_t at, std::size_t end, const text_lines &l)
{
    if (l.layout_step != 0)
        return true;
    int line = 0;
    std::uint64_t here = 0;
    for (std::size_t i = at; i < end && line < l.layout_size; ++i) {
        if (is_line_break(t[i]) && here != 0) {
            if (here != l.layout[line])
                return false;
            ++line;
            here = 0;
        } else if (is_digit(t[i]) && !is_digit(t[i - 1])) {
            ++here;
        }
    }
    return line == l.layout_size;
}

// What began as a byte order mark was none: its first byte is the fault,
// named from the text's first bytes.
void fault_at_mark(text_reader &r)
{
    set_fault(r, text_fault::not_a_number, 1, 1, r.head[0], 0);
    note_found(r, r.head, 0, r.head_size);
}

// Keeps the text's first bytes, for naming a fault there, and skips a UTF-8
// byte order mark at the very start. Returns how many bytes of the block to
// skip, or -1 when the block is all taken (a mark that may go on in the
// next, or a fault).
long take_start(text_reader &r, const unsigned char *begin, std::size_t size)
{
    for (std::size_t i = 0; r.head_size < sizeof r.head && i < size; ++i) {
        if (r.offset + i == r.head_size)
            r.head[r.head_size++] = begin[i];
    }
    if (r.mark_done)
        return 0;
    constexpr unsigned char mark[] = {0xef, 0xbb, 0xbf};
    std::size_t i = 0;
    while (i < size && r.offset + i < sizeof mark && begin[i] == mark[r.offset + i])
        ++i;
    if (r.offset + i == sizeof mark) {
        r.mark_done = true;
        r.line_start = sizeof mark;  // columns count from after it
        return static_cast<long>(i);
    }
    if (i == size)
        return -1;
    r.mark_done = true;
    if (r.offset == 0 || r.offset >= sizeof mark)
        return 0;
    // The blocks before held the start of a mark, and then it was none.
    fault_at_mark(r);
    return -1;
}

}  // namespace

std::size_t read_text(text_reader &r, const char *text, std::size_t size, unsigned char *out, const text_ahead &a,
                      std::size_t &first)
{
    first = 0;
    r.run_taken = false;
    if (r.fault != text_fault::none)
        return 0;
    const auto *begin = reinterpret_cast<const unsigned char *>(text);
    if (r.held != text_fault::none) {
        (void)take_start(r, begin, size);
        note_found(r, begin, r.offset, size);
        r.offset += size;
        return 0;
    }
    const long skip = take_start(r, begin, size);
    if (skip < 0) {
        r.offset += size;
        return 0;
    }
    const unsigned char *from = begin + skip;
    // Numbers are stored at out one byte each, after those of the pending record.
    std::memcpy(out, r.pending, static_cast<std::size_t>(r.filled));
    std::size_t n = static_cast<std::size_t>(r.filled);
    bool read = true;
    if (a.start != 0) {
        // Those before the run are moved up to end where its numbers begin;
        // where the text before leaves the reader in another state than the
        // run began in (seldom), the run is read again. Those numbers, and
        // the window's scratch after them, stay below the run's: the pending
        // record's, and one per two bytes of the first ahead_search.
        static_assert(ahead_room >= (record_size - 1) + (ahead_search / 2 + 1) + window_scratch);
        read = read_range(r, begin, from, begin + a.start, out, n);
        from = begin + a.start;
        if (read) {
            first = ahead_room - n;
            std::memmove(out + first, out, n);
            r.run_taken = take_run(r, a);
            if (r.run_taken) {
                n += a.run.numbers;
                from += a.run.consumed;
            }
        }
    }
    if (!read || !read_range(r, begin, from, begin + size, out + first, n)) {
        first = 0;
        note_found(r, begin, r.offset, size);
        r.offset += size;
        return 0;
    }
    r.offset += size;
    return whole_records(r, out + first, n);
}

void read_ahead(window_reader window, std::uint64_t layout, const char *text, std::size_t size, std::size_t share,
                unsigned char *out, text_ahead &a)
{
    a.start = 0;
    if (layout == 0)
        return;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    const std::size_t end = std::min(size, share);
    // The run starts after a line end, with the window's three bytes before
    // it (a line feed after a carriage return the window knows to be none),
    // where a group seems to. A run that takes nothing changes nothing where
    // it is taken.
    a.lines = sure_of(layout);
    std::size_t start = 0;
    for (std::size_t i = 2; start == 0 && i < std::min(end, ahead_search); ++i) {
        if (is_line_break(t[i]) && group_starts(t, i + 1, end, a.lines))
            start = i + 1;
    }
    if (start == 0)
        return;
    a.layout = layout;
    a.run = window(t + start, t + end, out + ahead_room, a.lines);
    a.start = start;
}

std::size_t finish_text(text_reader &r, unsigned char *out)
{
    if (r.fault != text_fault::none)
        return 0;
    if (r.held != text_fault::none || (!r.mark_done && r.offset != 0)) {
        // The bytes that name the fault are all there are; a text that
        // ended in the start of a byte order mark faults at its first byte.
        if (r.held == text_fault::none)
            fault_at_mark(r);
        r.fault = r.held != text_fault::none ? r.held : r.fault;
        r.held = text_fault::none;
        return 0;
    }
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

}  // namespace track
