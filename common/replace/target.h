// The file that a replacement replaces: where the links from its name end.
#pragma once

#include <sys/stat.h>

#include "replace.h"

namespace track {

// Follows the links from name to the file they end at, which need not exist
// yet: r.dir and r.name then name it, r.shown_dir names r.dir as the links
// wrote it, and st describes the file where r.existed. Each link is read
// relative to the directory that holds it, as the kernel reads it, so a
// chain of links is never joined into one long path. False with errno set
// on failure.
bool find_target(replacement &r, const char *name, struct stat &st);

}  // namespace track
