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
// all of `bytes`: a temporary file in the target's directory, written in full,
// fsync'd and renamed over the target (a symbolic link target replaces the file
// it finally points to; a non-regular target such as a FIFO or /dev/null, and
// a writable file in a directory that takes no new file, are written in
// place). An existing file keeps its permission bits; one this process may
// not write is refused (EACCES), as opening it would be. Returns nullopt on
// success, or the error's description:
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
// whole file is needed; the pieces are written as they come.
std::optional<std::string> write_file_atomically(std::string_view path, const Content& content);

// "Os { code: N, kind: K, message: \"strerror text\" }" for an error number.
std::string describe_os_error(int error_number);

// The error kind's name for a Linux error number ("Uncategorized" if unlisted).
std::string_view error_kind_name(int error_number);

}  // namespace revevu
