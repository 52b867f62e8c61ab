// Replacing an output file so that a failure never loses the old one.
//
// The new contents go to a temporary file beside the target, which is renamed
// over the target only once everything was written, flushed and closed without
// error. The replacement keeps the old file's permission bits (a new file gets
// 0666 less the umask); a symbolic link stays and the file it names is
// replaced; SIGINT, SIGTERM and SIGHUP remove the temporary file before the
// program dies by the signal. A target that exists but is not a regular file
// (a device, a FIFO) cannot be replaced and is written in place.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdio>
#include <sys/types.h>

namespace track {

struct replacement {
    std::FILE *file = nullptr;   // where the new contents go
    char temp[PATH_MAX] = {};    // the temporary file; empty when writing in place
    char target[PATH_MAX] = {};  // the file to replace, symbolic links followed
    bool existed = false;        // the target existed: keep its mode and owner
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    int error = 0;  // errno of the first failure

    replacement() = default;
    replacement(const replacement &) = delete;
    replacement &operator=(const replacement &) = delete;
    ~replacement();  // an unfinished replacement is abandoned
};

// Starts replacing the file `name` with a stream opened in `mode` ("w" or
// "wb"). On failure returns false with r.error set and leaves nothing behind.
bool replace_begin(replacement &r, const char *name, const char *mode);

// Writes a block; false with r.error set on failure.
bool replace_write(replacement &r, const void *data, std::size_t size);

// Finishes: flush, keep mode, sync, close, rename into place. On failure
// returns false with r.error set; the old file is untouched and the temporary
// file is gone.
bool replace_commit(replacement &r);

// Gives up: closes and removes the temporary file. Safe to call twice.
void replace_abandon(replacement &r);

}  // namespace track
