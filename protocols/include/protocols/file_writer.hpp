// Writing a file without ever leaving a half-written one behind where that
// can be avoided: a protocol file, and whatever a command writes to a file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocols/file_errors.hpp"
#include "protocols/file_output.hpp"

namespace protocols {

// The error of writing `content` to `path` as write_file_atomically below
// does, or nullopt: for a caller that reports errors in words of its own.
MaybeError replace_file_contents(std::string_view path, const Content& content);

// Writes `bytes` to `path` so that the target holds either its old content or
// all of `bytes`, and a process killed midway leaves nothing behind: the bytes
// go to a new file in the target's directory, which takes the old file's
// owner, group, mode, ACL and other extended attributes, is flushed and
// renamed over it (src/file_replacement.hpp). Every step works relative to a
// handle of the directory, so any name that open() accepts is accepted. A
// symbolic link is kept and the file it finally points to replaced.
//
// Where replacing the file would lose something, or is not allowed, it is
// written in place instead (src/file_in_place.hpp); which way, src/file_policy.hpp.
// A file this process may not write is refused (EACCES), as opening it would
// be. Every failure that can cost data (a write, a flush, a close of the
// written file, a link, a rename) is reported.
//
// Returns nullopt on success, or the error's description:
//   Os { code: 2, kind: NotFound, message: "No such file or directory" }
//   Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }
//   Error { kind: WriteZero, message: "failed to write whole buffer" }
std::optional<std::string> write_file_atomically(std::string_view path,
                                                 std::span<const std::uint8_t> bytes);

// The same for content produced while it is written, so that no buffer of the
// whole file is needed; the pieces are written as they come. The content is
// produced once, except where a replacement, once written, cannot be named
// or renamed and is written again (no /proc, a rename refused).
std::optional<std::string> write_file_atomically(std::string_view path, const Content& content);

}  // namespace protocols
