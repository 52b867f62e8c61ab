// The record of a track and the fixed names of its two file forms.
//
// A track is a sequence of records of sixteen values 0..255. It lives on disk
// as the record file (sixteen bytes per record, nothing else) and as the track
// file (one line of sixteen decimal numbers per record). Both programs take
// every definition of those forms from here.
#pragma once

#include <cstdint>

namespace track {

// One record. Field k is number k of a text line and byte k of a binary
// record. Each holds 0..255; a byte read from the record file is zero-extended.
struct trame {
    std::int32_t quelpiano;
    std::int32_t quelpiano1;
    std::int32_t quelpiano2;
    std::int32_t quelpiano3;
    std::int32_t quelpiano4;
    std::int32_t quelpiano5;
    std::int32_t quelpiano6;
    std::int32_t quelpiano7;
    std::int32_t quelpiano8;
    std::int32_t quelpiano9;
    std::int32_t quelpiano10;
    std::int32_t quelpiano11;
    std::int32_t quelpiano12;
    std::int32_t quelpiano13;
    std::int32_t quelpiano14;
    std::int32_t quelpiano15;
};

inline constexpr int field_count = 16;
inline constexpr int record_size = field_count;  // bytes of one binary record
inline constexpr int max_value = 255;

// The fields in file order, so that code can walk a record by position.
inline constexpr std::int32_t trame::*const fields[field_count] = {
    &trame::quelpiano,   &trame::quelpiano1,  &trame::quelpiano2,  &trame::quelpiano3,
    &trame::quelpiano4,  &trame::quelpiano5,  &trame::quelpiano6,  &trame::quelpiano7,
    &trame::quelpiano8,  &trame::quelpiano9,  &trame::quelpiano10, &trame::quelpiano11,
    &trame::quelpiano12, &trame::quelpiano13, &trame::quelpiano14, &trame::quelpiano15,
};

// One line of the track file, as printf would write a record. The writer
// produces exactly this text; the reader accepts it and any other white space.
inline constexpr char record_pattern[] = "%d %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d\n";

inline constexpr char track_file[] = "piste1.txt";   // text form
inline constexpr char record_file[] = "talvor.vrd";  // binary form

// Open modes: trackenc reads text and writes binary, trackdec the reverse.
inline constexpr char track_read_mode[] = "r";
inline constexpr char track_write_mode[] = "w";
inline constexpr char record_read_mode[] = "rb";
inline constexpr char record_write_mode[] = "wb";

// The sixteen bytes of a record file entry, zero-extended into a record.
inline trame record_from_bytes(const unsigned char *bytes)
{
    trame t{};
    for (int k = 0; k < field_count; ++k)
        t.*fields[k] = bytes[k];
    return t;
}

}  // namespace track
