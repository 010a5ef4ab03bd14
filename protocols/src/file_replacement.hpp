// Replacing a file by a new one that is complete, flushed and carries what
// the old one carried before it takes the old one's name. Plain C++ and
// POSIX; no Python here.
#pragma once

#include <sys/stat.h>

#include "file_target.hpp"
#include "protocols/file_descriptor.hpp"
#include "protocols/file_output.hpp"

namespace protocols {

// The file being replaced, open for reading its extended attributes.
struct OldFile {
    FileDescriptor file;
    struct stat status;
};

struct Replacement {
    // The new file cannot take the old one's owner, group or attributes, or
    // the directory takes no new file: nothing was published, and the target
    // is to be written in place.
    bool refused = false;
    MaybeError error;
};

// Writes `content` to a new file in the target's directory and renames it
// over the target (`old`, or nullptr where there is none). The new file is
// unnamed until it is complete and flushed, or, on a file system without
// unnamed files, named `.vesk-XXXXXX` and removed again on failure. It takes
// the old file's owner and group, extended attributes and exact ACL before
// any byte goes in, and its mode after the last. Every failure before the
// rename leaves the target as it was; the directory's flush comes after.
Replacement replace_file(const FileTarget& target, const OldFile* old, const Content& content);

}  // namespace protocols
