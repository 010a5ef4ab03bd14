// Copying a file's extended attributes (user attributes, POSIX ACLs, security
// labels) to the file that replaces it. Plain C++ and POSIX; no Python here.
#pragma once

namespace protocols {

struct AttributeCopy {
    // An attribute could not be read or set for want of permission or
    // support: the copy would lose it.
    bool refused = false;
    int error = 0;  // any other failure's error number
};

// Copies every extended attribute of the open file `from` to the open file
// `to`, and removes the access ACL that `to` took from its directory's default
// ACL when `from` has none: `to` ends with exactly `from`'s ACL.
AttributeCopy copy_extended_attributes(int from, int to);

}  // namespace protocols
