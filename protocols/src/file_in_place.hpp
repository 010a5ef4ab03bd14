// Writing a file in place, for what cannot be replaced: opened (following a
// link as open() does), truncated, written, flushed and closed, each step
// checked. Plain C++ and POSIX; no Python here.
#pragma once

#include <string>

#include "protocols/file_output.hpp"

namespace protocols {

// `name` relative to the directory handle `directory`.
MaybeError write_in_place(int directory, const std::string& name, const Content& content);

}  // namespace protocols
