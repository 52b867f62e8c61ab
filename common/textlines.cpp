#include "textlines.h"

#include <cinttypes>
#include <cstdio>

#include "trame.h"

namespace track {

namespace {

// What the layout has for the line at `index` in a group: its counts over
// and over, as the lines after a lost or added number keep them.
std::uint64_t expected(const text_lines &l, std::uint64_t index)
{
    return l.layout[index % static_cast<std::uint64_t>(l.layout_size)];
}

void tell(text_lines &l, const text_slip &s)
{
    if (l.found.line == 0)
        l.found = s;
}

// The line of `here` numbers at `index` in the open group is off the
// layout: the lost line, the one that brings records back, or one too many.
void off_layout(text_lines &l, std::uint64_t index, std::uint64_t here)
{
    const std::uint64_t want = expected(l, index);
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
void close_group(text_lines &l, std::uint64_t here)
{
    const std::uint64_t last = l.group_size - 1;
    const bool on_layout = l.layout_size != 0 && here == expected(l, last);
    if (l.layout_size != 0 && !on_layout)
        off_layout(l, last, here);
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
        if (l.pending.line != 0)
            tell(l, l.pending);
        l.pending = {};
        l.layout_twice = true;
    } else {
        // Another layout, or none where the group is too long to be one.
        l.pending = {};
        l.layout_size = l.group_size <= layout_lines ? static_cast<int>(l.group_size) : 0;
        for (int i = 0; i < l.layout_size; ++i)
            l.layout[i] = l.group[i];
        l.layout_twice = false;
    }
    l.steady = l.layout_size == 1 && l.layout_twice ? l.layout[0] : 0;
    l.group_line = 0;
    l.group_size = 0;
    l.open = {};
    l.conforming = 0;
    l.broken = 0;
}

}  // namespace

void end_line(text_lines &l)
{
    const std::uint64_t here = l.numbers - l.line_first;
    if (here != 0) {
        const std::uint64_t index = l.group_size++;
        if (index == 0)
            l.group_line = l.line;
        if (index < layout_lines)
            l.group[index] = here;
        if (l.numbers % record_size == 0) {
            close_group(l, here);
        } else {
            l.steady = 0;
            if (l.layout_size != 0 && here != expected(l, index))
                off_layout(l, index, here);
            else if (l.open.lost != 0 && l.open.back == 0)
                ++l.conforming;
        }
    }
    ++l.line;
    l.line_first = l.numbers;
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
    else if (l.group_line != 0 && l.group_line < l.last_line)
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
