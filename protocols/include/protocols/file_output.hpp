// Writing a file's content through a descriptor and flushing it: the part
// that both ways of writing a file (replacing it, writing it in place) share.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "protocols/file_errors.hpp"

namespace protocols {

// The error, or nullopt for success.
using MaybeError = std::optional<FileError>;

// Writes one piece of a file's content; false once a write has failed.
using PieceWriter = std::function<bool(std::span<const std::uint8_t>)>;
// Produces a file's content piece by piece, in order, through the writer it
// is given, and stops when the writer returns false.
using Content = std::function<void(const PieceWriter& write)>;

// All of `bytes`, after partial writes and interruptions by a signal; a
// write that writes nothing is kWriteZero.
MaybeError write_all(int fd, std::span<const std::uint8_t> bytes);

// Every piece of the content, in order, each written whole (a write
// interrupted by a signal is retried); the first failure ends it.
MaybeError write_content(int fd, const Content& content);

// fsync, retried while a signal interrupts it: 0 or the error number.
int flush_file(int fd);

}  // namespace protocols
