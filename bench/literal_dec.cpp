// The decoder written the plain stdio way, kept as the benchmark's baseline:
// one fgetc per byte and one fprintf of the record pattern per record, with
// no result examined.
#include <cstdio>

#include "trame.h"

int main()
{
    using namespace track;
    std::FILE *text = std::fopen(track_file, track_write_mode);
    std::FILE *records = std::fopen(record_file, record_read_mode);
    if (text == nullptr || records == nullptr) {
        std::perror("Error in opening file");
        return 255;
    }
    trame t{};
    int assemble = 0;
    for (;;) {
        int c = std::fgetc(records);
        if (std::feof(records) != 0)
            break;
        t.*fields[assemble++] = static_cast<unsigned char>(c);
        if (assemble == field_count) {
            (void)std::fprintf(text, record_pattern, t.quelpiano, t.quelpiano1, t.quelpiano2, t.quelpiano3,
                               t.quelpiano4, t.quelpiano5, t.quelpiano6, t.quelpiano7, t.quelpiano8, t.quelpiano9,
                               t.quelpiano10, t.quelpiano11, t.quelpiano12, t.quelpiano13, t.quelpiano14,
                               t.quelpiano15);
            assemble = 0;
        }
    }
    (void)std::fclose(text);
    (void)std::fclose(records);
    return 0;
}
