// Replacing an output file so that a failure never loses the old one.
//
// The new contents go to an unnamed file in the target's directory, which is
// given a name only once everything was written and synced, and is then
// renamed over the target; the directory is synced after the rename. Where
// the filesystem has no unnamed files, a named temporary file ".NAME.XXXXXX"
// stands in, removed on every failure and on every signal that would end the
// program. The replacement keeps the old file's permission bits (a new file
// gets 0666 less the umask); a symbolic link stays and the file it names is
// replaced, where the kernel would follow that link. A target that exists
// but is not a regular file (a device, a FIFO) cannot be replaced and is
// written in place.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace track {

// The step that failed, for the message.
enum class replace_step : unsigned char { other, create, rename };

struct replacement {
    int fd = -1;             // where the new contents go
    int dir = -1;            // the directory that holds the target
    bool dir_synced = true;  // dir can be synced (it was opened for reading)
    bool in_place = false;   // the target is written as it stands
    bool named = false;      // the new contents have a temporary name
    bool existed = false;    // the target existed: keep its mode and owner
    bool sticky = false;     // the rename failed in a sticky directory
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    int error = 0;  // errno of the first failure
    replace_step failed = replace_step::other;

    replacement() = default;
    replacement(const replacement &) = delete;
    replacement &operator=(const replacement &) = delete;
    ~replacement();  // an unfinished replacement is abandoned
};

// Sets the signals up for a program that replaces a file: a write to a
// closed pipe fails with EPIPE instead of killing the program, and so does a
// write past the file-size limit with EFBIG; every other signal that would
// end the program first removes a named temporary file. Call it first thing.
void prepare_signals();

// Starts replacing the file `name`. On failure returns false with r.error
// set and leaves nothing behind.
bool replace_begin(replacement &r, const char *name);

// Writes a block; false with r.error set on failure.
bool replace_write(replacement &r, const void *data, std::size_t size);

// Finishes: keep mode, sync, name, rename into place, sync the directory.
// On failure returns false with r.error set; unless the directory sync was
// what failed, the old file is untouched and the new one is gone.
bool replace_commit(replacement &r);

// Gives up: closes and removes the new file. Safe to call twice.
void replace_abandon(replacement &r);

// Prints "program: cannot write NAME: ..." for a failed replacement, naming
// the directory or the step that caused it.
void report_replace_failure(const char *program, const char *name, const replacement &r);

// The kernel's rule for following a symbolic link where fs.protected_symlinks
// is on: in a directory that is sticky and writable by all, a link is
// followed only by its owner or when it belongs to the directory's owner.
bool may_follow_link(bool protected_symlinks, const struct stat &dir, const struct stat &link, uid_t follower);

}  // namespace track
