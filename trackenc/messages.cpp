// The reader's messages: what a fault found, where, and the hand-edit
// warning.
#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "reader.h"

namespace track {

namespace {

// A UTF-8 character's code point, or -1 where the n bytes at c do not
// begin with one.
long code_point(const unsigned char *c, std::size_t n)
{
    const unsigned lead = c[0];
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                               : lead >= 0xe0 && lead <= 0xef ? 3
                               : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                              : 0;
    if (length == 0 || n < length)
        return -1;
    long point = static_cast<long>(lead & (0x7fu >> length));
    for (std::size_t i = 1; i < length; ++i) {
        if ((c[i] & 0xc0) != 0x80)
            return -1;
        point = point << 6 | (c[i] & 0x3f);
    }
    constexpr long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < least[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
        return -1;
    return point;
}

// The characters that people meet where numbers should be, by what they
// look like: spaces that are not blanks, digits that are not 0-9, signs.
struct character_kind {
    long first, last;
    const char *kind;
};
constexpr character_kind kinds[] = {
    {0xa0, 0xa0, "a no-break space"},
    {0x660, 0x669, "an Arabic-Indic digit: only 0-9 are digits here"},
    {0x6f0, 0x6f9, "an Arabic-Indic digit: only 0-9 are digits here"},
    {0x966, 0x96f, "a Devanagari digit: only 0-9 are digits here"},
    {0x2000, 0x200a, "a typographic space: only blanks, tabs and line ends separate numbers"},
    {0x200b, 0x200b, "a zero-width space"},
    {0x2010, 0x2015, "a dash: a minus sign is '-'"},
    {0x202f, 0x202f, "a narrow no-break space"},
    {0x2212, 0x2212, "a minus sign: here it is '-'"},
    {0x3000, 0x3000, "an ideographic space"},
    {0xfeff, 0xfeff, "a byte order mark, which only the very start of the file may hold"},
    {0xff0b, 0xff0b, "a fullwidth plus sign: here it is '+'"},
    {0xff0c, 0xff0c, "a fullwidth comma"},
    {0xff0d, 0xff0d, "a fullwidth hyphen-minus: a minus sign is '-'"},
    {0xff10, 0xff19, "a fullwidth digit: only 0-9 are digits here"},
};

// "'x'" for a printable byte, "U+XXXX (what it is)" for a UTF-8 character,
// "byte 0xNN" for any other byte, "end of file"; with a hint where people
// put that byte for a reason.
void describe_found(const text_reader &r, char *buffer, std::size_t size)
{
    const int found = r.found;
    if (found < 0) {
        (void)std::snprintf(buffer, size, "end of file");
    } else if (found == ',' || found == ';') {
        (void)std::snprintf(buffer, size, "'%c' (numbers are separated by blanks, tabs or line ends)", found);
    } else if (found >= 0x20 && found < 0x7f) {
        (void)std::snprintf(buffer, size, "'%c'", found);
    } else if (found == 0x1a) {
        (void)std::snprintf(buffer, size, "byte 0x1A (a DOS end-of-file mark)");
    } else if (const long point = code_point(r.found_bytes, r.found_size); point >= 0) {
        const char *kind = nullptr;
        for (const character_kind &k : kinds) {
            if (point >= k.first && point <= k.last)
                kind = k.kind;
        }
        (void)std::snprintf(buffer, size, kind != nullptr ? "U+%04lX (%s)" : "U+%04lX",
                            static_cast<unsigned long>(point), kind);
    } else {
        (void)std::snprintf(buffer, size, "byte 0x%02X", static_cast<unsigned>(found));
    }
}

// UTF-16 text, where the fault is at its start: its byte order mark, or a
// NUL in every other byte. Returns what shows it, or nullptr.
const char *utf16_sign(const text_reader &r)
{
    const unsigned char *h = r.head;
    if (r.found < 0 || r.found_offset >= 2 || r.head_size < 2)
        return nullptr;
    if (r.found_offset == 0 && h[0] == 0xff && h[1] == 0xfe)
        return "its byte order mark FF FE";
    if (r.found_offset == 0 && h[0] == 0xfe && h[1] == 0xff)
        return "its byte order mark FE FF";
    for (std::size_t nul = 0; r.found == 0 && nul < 2; ++nul) {
        bool every_other = true;
        for (std::size_t i = 0; i < r.head_size; ++i)
            every_other = every_other && (h[i] == 0) == (i % 2 == nul);
        if (every_other)
            return "a NUL in every other byte";
    }
    return nullptr;
}

}  // namespace

void describe_fault(const text_reader &r, char *buffer, std::size_t size)
{
    char found[128];
    describe_found(r, found, sizeof found);
    const std::uint64_t line = r.fault_line;
    const std::uint64_t column = r.fault_column;
    const char *utf16 = r.fault == text_fault::out_of_range ? nullptr : utf16_sign(r);
    if (utf16 != nullptr) {
        (void)std::snprintf(buffer, size,
                            "%" PRIu64 ":%" PRIu64 ": this is UTF-16 text (%s), not plain text: convert it first, "
                            "e.g. with iconv -f UTF-16 -t UTF-8",
                            line, column, utf16);
        return;
    }
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
    case text_fault::incomplete: {
        char why[160];
        describe_incomplete(r.lines, why, sizeof why);
        (void)std::snprintf(buffer, size, "%" PRIu64 ": incomplete record: %d of %d numbers%s", line, r.filled,
                            field_count, why);
        break;
    }
    }
}

bool describe_layout(const text_reader &r, char *buffer, std::size_t size)
{
    return describe_slip(r.lines, buffer, size);
}

}  // namespace track
