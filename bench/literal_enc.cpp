// The encoder written the plain stdio way, kept as the benchmark's baseline:
// one fscanf of the record pattern per record, one one-byte fwrite per
// number, with no result examined.
#include <cstdio>

#include "trame.h"

int main()
{
    using namespace track;
    std::FILE *text = std::fopen(track_file, track_read_mode);
    if (text == nullptr)
        return 0;
    unsigned char table[max_value + 1];
    for (int i = 0; i <= max_value; ++i)
        table[i] = static_cast<unsigned char>(i);
    std::FILE *records = std::fopen(record_file, record_write_mode);
    if (records == nullptr) {
        (void)std::fclose(text);
        return 0;
    }
    trame t{};
    while (std::fscanf(text, record_pattern, &t.quelpiano, &t.quelpiano1, &t.quelpiano2, &t.quelpiano3, &t.quelpiano4,
                       &t.quelpiano5, &t.quelpiano6, &t.quelpiano7, &t.quelpiano8, &t.quelpiano9, &t.quelpiano10,
                       &t.quelpiano11, &t.quelpiano12, &t.quelpiano13, &t.quelpiano14, &t.quelpiano15) != EOF) {
        for (auto field : fields)
            (void)std::fwrite(&table[t.*field & max_value], 1, 1, records);  // the mask keeps bad input in the table
    }
    (void)std::fclose(records);
    (void)std::fclose(text);
    return 0;
}
