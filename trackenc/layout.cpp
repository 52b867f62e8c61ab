#include "layout.h"

#include <cinttypes>
#include <cstdio>

#include "bits.h"
#include "trame.h"

namespace track {

namespace {

// Where l counts steady lines alone, keeps where it is in the layout.
void keep_phase(text_lines &l)
{
    if (l.steady == 0)
        return;
    const std::uint64_t lines = (l.line_first - l.origin) / l.steady;
    l.phase = static_cast<int>(lines % static_cast<std::uint64_t>(l.layout_size));
    l.group_line = l.line - static_cast<std::uint64_t>(l.phase);
    l.steady = 0;
}

// Where l is sure of the layout, a line of `here` numbers that the layout
// has next ends; false, changing nothing, for any other.
bool on_sure_layout(text_lines &l, std::uint64_t here)
{
    if (here != l.layout[l.phase])
        return false;
    if (l.phase == 0)
        l.group_line = l.line;
    l.phase = l.phase + 1 == l.layout_size ? 0 : l.phase + 1;
    ++l.line;
    l.line_first = l.numbers;
    if (l.phase == 0 && l.layout_step != 0) {
        l.steady = l.layout_step;
        l.origin = l.numbers;
    }
    return true;
}

void tell(text_lines &l, const text_slip &s)
{
    if (l.found.line == 0)
        l.found = s;
}

// The line of `here` numbers in the open group is off the layout, which
// has `want` there: the lost line, the one that brings records back, or one
// too many.
void off_layout(text_lines &l, std::uint64_t here, std::uint64_t want)
{
    if (l.open.lost == 0) {
        l.open.lost = l.line;
        l.open.lost_count = here;
        l.open.lost_expected = want;
    } else if (l.open.back == 0 && l.conforming != 0) {
        l.open.back = l.line;
        l.open.back_count = here;
        l.open.back_expected = want;
    } else if (l.broken == 0) {
        l.broken = l.line;
    }
}

// The open group ends on a record boundary, at its line of `here` numbers.
void close_group(text_lines &l, std::uint64_t here, std::uint64_t want)
{
    const bool on_layout = here == want;
    if (want != 0 && !on_layout)
        off_layout(l, here, want);
    if (l.open.back != 0 && l.broken == 0) {
        // The layout stays what it was: the slip is no layout of its own.
        text_slip s = l.open;
        s.line = l.group_line;
        l.pending = {};
        if (l.layout_twice)
            tell(l, s);
        else
            l.pending = s;
    } else if (l.open.lost == 0 && on_layout && l.group_size == static_cast<std::uint64_t>(l.layout_size)) {
        if (l.pending.line != 0) {
            tell(l, l.pending);
            l.pending = {};
        }
        l.layout_twice = true;
    } else {
        // Another layout, or none where the group is too long to be one.
        if (l.pending.line != 0)
            l.pending = {};
        l.layout_size = l.group_size <= layout_lines ? static_cast<int>(l.group_size) : 0;
        l.layout_step = l.layout_size != 0 ? l.group[0] : 0;
        for (int i = 0; i < l.layout_size; ++i) {
            l.layout[i] = l.group[i];
            l.layout_step = l.layout[i] == l.layout_step ? l.layout_step : 0;
        }
        l.layout_twice = false;
    }
    l.sure = l.layout_twice && l.pending.line == 0 && l.layout_size != 0;
    l.steady = l.sure ? l.layout_step : 0;
    l.origin = l.numbers;
    l.phase = 0;
    l.group_size = 0;
    if (l.open.lost != 0)
        l.open = {};
    l.conforming = 0;
    l.broken = 0;
}

// The current line ends (end_line).
inline void take_line(text_lines &l)
{
    const std::uint64_t here = l.numbers - l.line_first;
    if (l.steady != 0 && here == l.steady) {
        // As the window loop counts it.
        ++l.line;
        l.line_first = l.numbers;
        return;
    }
    ++l.slow_lines;
    keep_phase(l);
    if (l.sure && here != 0) {
        if (on_sure_layout(l, here))
            return;
        // Off the layout: the group's lines so far are the layout's.
        l.sure = false;
        l.group_size = static_cast<std::uint64_t>(l.phase);
        for (int i = 0; i < l.phase; ++i)
            l.group[i] = l.layout[i];
    }
    if (here != 0) {
        const std::uint64_t index = l.group_size++;
        if (index == 0) {
            l.group_line = l.line;
            l.phase = 0;
        }
        if (index < layout_lines)
            l.group[index] = here;
        // What the layout has here: its counts over and over, as the lines
        // after a lost or added number keep them; 0 without a layout, or
        // where the group can no longer be a slip.
        std::uint64_t want = 0;
        if (l.layout_size != 0 && l.broken == 0) {
            want = l.layout[l.phase];
            l.phase = l.phase + 1 == l.layout_size ? 0 : l.phase + 1;
        }
        if (l.numbers % record_size == 0) {
            close_group(l, here, want);
        } else {
            if (want != 0 && here != want)
                off_layout(l, here, want);
            else if (l.open.lost != 0 && l.open.back == 0)
                ++l.conforming;
        }
    }
    ++l.line;
    l.line_first = l.numbers;
}

}  // namespace

void end_line(text_lines &l)
{
    take_line(l);
}

void end_lines(text_lines &l, std::uint64_t line_ends, std::uint64_t ends, std::uint64_t before)
{
    for (std::uint64_t b = line_ends; b != 0; b &= b - 1) {
        l.numbers = before + count_bits(ends & ((b & (~b + 1)) - 1));
        take_line(l);
    }
}

std::uint64_t packed_layout(const text_lines &l)
{
    if (!l.sure || l.layout_size > 7)
        return 0;
    std::uint64_t packed = static_cast<std::uint64_t>(l.layout_size);
    for (int i = 0; i < l.layout_size; ++i) {
        if (l.layout[i] > 255)
            return 0;
        packed |= l.layout[i] << (8 + 8 * i);
    }
    return packed;
}

text_lines sure_of(std::uint64_t packed)
{
    text_lines l;
    l.layout_size = static_cast<int>(packed & 0xff);
    l.layout_step = l.layout_size != 0 ? packed >> 8 & 0xff : 0;
    for (int i = 0; i < l.layout_size; ++i) {
        l.layout[i] = packed >> (8 + 8 * i) & 0xff;
        l.layout_step = l.layout[i] == l.layout_step ? l.layout_step : 0;
    }
    l.layout_twice = l.sure = l.layout_size != 0;
    l.steady = l.layout_step;
    return l;
}

bool runs_on(const text_lines &l, std::uint64_t packed, const text_lines &run)
{
    if (packed == 0 || packed_layout(l) != packed)
        return false;
    if (l.steady != 0)
        return run.slow_lines == 0 ||
               (l.line_first - l.origin) / l.steady % static_cast<std::uint64_t>(l.layout_size) == 0;
    return l.phase == 0;
}

void describe_incomplete(const text_lines &l, char *buffer, std::size_t size)
{
    // The last line may be cut short: it alone off the layout again says
    // nothing against the line named, and names nothing itself.
    if (l.open.lost != 0 && l.open.lost < l.last_line && l.broken == 0 &&
        (l.open.back == 0 || l.open.back == l.last_line))
        (void)std::snprintf(buffer, size,
                            " (line %" PRIu64 " holds %" PRIu64 " number%s where the layout has %" PRIu64 ")",
                            l.open.lost, l.open.lost_count, l.open.lost_count == 1 ? "" : "s", l.open.lost_expected);
    else if ((l.sure ? l.phase != 0 : l.group_size != 0) && l.group_line < l.last_line)
        (void)std::snprintf(buffer, size, " (records stopped matching lines at line %" PRIu64 ")", l.group_line);
    else if (size != 0)
        buffer[0] = '\0';
}

bool describe_slip(const text_lines &l, char *buffer, std::size_t size)
{
    const text_slip &s = l.found;
    if (s.line == 0)
        return false;
    (void)std::snprintf(buffer, size,
                        "%" PRIu64 ": warning: line %" PRIu64 " holds %" PRIu64
                        " number%s where the layout has %" PRIu64 ", and line %" PRIu64 " holds %" PRIu64
                        " where it has %" PRIu64 ": the records of lines %" PRIu64 " to %" PRIu64 " are shifted",
                        s.line, s.lost, s.lost_count, s.lost_count == 1 ? "" : "s", s.lost_expected, s.back,
                        s.back_count, s.back_expected, s.line, s.back);
    return true;
}

}  // namespace track
