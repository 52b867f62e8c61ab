#pragma once

namespace track {

// Converts talvor.vrd in the current directory into piste1.txt. Returns the
// exit status: 0, or 255 after printing why on standard error, in which case
// piste1.txt is as it was.
int decode_track();

}  // namespace track
