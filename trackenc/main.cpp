// trackenc: reads the track file piste1.txt and writes the record file
// talvor.vrd, sixteen bytes per record. Arguments are ignored.
#include "encode.h"

int main()
{
    return track::encode_track();
}
