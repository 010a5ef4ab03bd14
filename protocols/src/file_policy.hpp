// Which way a save writes its target: replaced by a new file, written in
// place, or refused. The table in docs/api.md ("How the file is written")
// says the same row by row. Plain C++; no Python here.
#pragma once

#include <sys/types.h>

#include "file_target.hpp"

namespace protocols {

// What is known of the target before anything is written.
struct TargetFacts {
    FileTarget::Kind kind = FileTarget::Kind::Missing;
    int write_refused = 0;  // why this process may not write the file (an error number), or 0
    bool readable = true;   // opened for reading its attributes
    nlink_t links = 1;
};

enum class WriteWay {
    Replace,  // a new file, complete and flushed, renamed over the target
    InPlace,  // opened, truncated, written and flushed
    Refuse,   // fails with facts.write_refused, as opening the file would
};

// A replacement can still turn into a write in place: when the new file
// cannot be given the old one's owner, group, ACL or other attributes, or the
// directory takes no new file. That is found before any byte is written.
WriteWay choose_write_way(const TargetFacts& facts);

}  // namespace protocols
