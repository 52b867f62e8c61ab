// Replacing an output file so that a failure never loses the old one.
//
// The output is replaced only where the user could have opened it for
// writing: the kernel is asked, following links by its own rules. The new
// contents go to an unnamed file in the directory of the file the links end
// at; once everything was written and synced it gets a name and is renamed
// over that file, and the directory is synced. Where the filesystem has no
// unnamed files, a named temporary file ".NAME.XXXXXX" stands in, removed on
// every failure and on every signal that would end the program.
//
// The new file is created with the old file's permission bits (0666 for a
// new output), less the umask, and then given the old bits and owner where
// the filesystem keeps them; where it does not (FAT, exFAT, some FUSE and
// network filesystems), it keeps the mode the filesystem gives. An output
// that exists but is not a regular file (a device, a FIFO) cannot be replaced
// and is written in place.
#pragma once

#include <climits>
#include <cstddef>
#include <sys/types.h>

namespace track {

// The step that failed, for the message.
enum class replace_step : unsigned char { other, create, rename };

// One replacement: where it writes and what it found. It lives in static
// storage, for its buffers.
struct replacement {
    int fd = -1;                // where the new contents go
    int dir = -1;               // the directory that holds the file replaced
    bool dir_syncable = false;  // dir was opened for reading, so it can be synced (else its filesystem is)
    bool in_place = false;      // the output is written as it stands
    bool existed = false;       // the output existed: give its mode and owner on
    bool named = false;         // the new contents have the name in temp
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    int error = 0;  // errno of the first failure
    replace_step failed = replace_step::other;
    bool sticky = false;         // the rename failed in a sticky directory
    char name[NAME_MAX + 1]{};   // the file replaced, in dir
    char temp[NAME_MAX + 1]{};   // the new contents' temporary name
    char shown_dir[PATH_MAX]{};  // dir as the links wrote it, for messages
    char link[PATH_MAX]{};       // the text of the link being followed

    replacement() = default;
    replacement(const replacement &) = delete;
    replacement &operator=(const replacement &) = delete;
    ~replacement();  // an unfinished replacement is abandoned
};

// Starts replacing the file `name`. On failure returns false with r.error
// set and leaves nothing behind.
bool replace_begin(replacement &r, const char *name);

// Writes a block; false with r.error set on failure.
bool replace_write(replacement &r, const void *data, std::size_t size);

// Finishes: mode and owner, sync, name, rename into place, sync the
// directory. On failure returns false with r.error set; the old file is then
// as it was and the new one gone, unless the directory sync was what failed:
// then the new file is in place but may not survive a power loss.
bool replace_commit(replacement &r);

// Gives up: closes and removes the new file. Safe to call twice.
void replace_abandon(replacement &r);

// Prints "program: cannot write NAME: ..." for a failed replacement, naming
// the directory or the step that caused it.
void report_replace_failure(const char *program, const char *name, const replacement &r);

}  // namespace track
