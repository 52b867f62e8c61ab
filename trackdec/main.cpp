// trackdec: reads the record file talvor.vrd and writes the track file
// piste1.txt, one line per record. Arguments are ignored.
#include "decode.h"

int main()
{
    return track::decode_track();
}
