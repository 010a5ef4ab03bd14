// Writing a protocol file without ever leaving a half-written one behind.
// Plain C++ and POSIX; no Python here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace revevu {

// Writes `bytes` to `path` so that the target holds either its old content or
// all of `bytes`, and a process killed midway leaves nothing behind: the bytes
// go to an unnamed file in the target's directory (a file under a temporary
// name where the file system has none), which is synced, named and renamed
// over the target. Every step works relative to a handle of the directory, so
// any name that open() accepts is accepted. A symbolic link is kept and the
// file it finally points to replaced. The replacement takes over the old
// file's permission bits, its owner where this process may give it away, and
// its extended attributes.
//
// Written in place instead (opened, truncated and written, as open() would):
// a target that is not a regular file (a FIFO or /dev/null); a file with a
// second hard link, which would otherwise keep the old content; a file whose
// extended attributes cannot be read, or copied for want of permission or
// support; a writable file in a directory that takes no new file.
//
// A file this process may not write is refused (EACCES), as opening it would
// be. Returns nullopt on success, or the error's description:
//   Os { code: 2, kind: NotFound, message: "No such file or directory" }
//   Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }
//   Error { kind: WriteZero, message: "failed to write whole buffer" }
std::optional<std::string> write_file_atomically(std::string_view path,
                                                 std::span<const std::uint8_t> bytes);

// Writes one piece of a file's content; false once a write has failed.
using PieceWriter = std::function<bool(std::span<const std::uint8_t>)>;
// Produces a file's content piece by piece, in order, through the writer it
// is given, and stops when the writer returns false.
using Content = std::function<void(const PieceWriter& write)>;

// The same for content produced while it is written, so that no buffer of the
// whole file is needed; the pieces are written as they come. The content is
// produced a second time when a replacement, once written, turns out to be
// refused and the file is written in place.
std::optional<std::string> write_file_atomically(std::string_view path, const Content& content);

// "Os { code: N, kind: K, message: \"strerror text\" }" for an error number.
std::string describe_os_error(int error_number);

// The error kind's name for a Linux error number ("Uncategorized" if unlisted).
std::string_view error_kind_name(int error_number);

}  // namespace revevu
