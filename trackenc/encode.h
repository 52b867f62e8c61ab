#pragma once

namespace track {

// Converts piste1.txt in the current directory into talvor.vrd. Returns the
// exit status: 0, or 1 after printing why on standard error, in which case
// talvor.vrd is as it was.
int encode_track();

}  // namespace track
