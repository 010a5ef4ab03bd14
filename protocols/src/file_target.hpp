// Finding the directory entry a file name finally stands for, held through a
// handle of its directory, so that every later step names it relative to that
// directory: no joined path can grow past the system's limit, and no
// directory swapped in between the steps can change which entry they reach.
// Plain C++ and POSIX; no Python here.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "protocols/file_descriptor.hpp"

namespace protocols {

struct FileTarget {
    enum class Kind {
        Missing,     // no entry of that name: it is created
        Regular,     // a regular file
        Other,       // a directory, device, FIFO or socket
        Unresolved,  // a link's text ends in a slash: left to open() to judge
    };

    FileDescriptor directory{AT_FDCWD};  // an O_PATH handle, or AT_FDCWD
    std::string name;                    // one component, or the link's whole text if Unresolved
    Kind kind = Kind::Missing;
    struct stat status {};  // of the entry itself, when it exists
};

// Resolves `path` (no NUL in it): its directory part is opened, and symbolic
// links in its last component are followed one at a time relative to the
// directory that holds each of them, at most 40, as open() follows them.
// Returns 0, or the error number that opening the name would have given.
int resolve_file_target(std::string_view path, FileTarget& target);

}  // namespace protocols
