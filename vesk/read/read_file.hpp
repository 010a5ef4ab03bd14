// Reading a whole file into memory with read(): for what cannot be mapped,
// and for callers that must not map (a mapped file that shrinks raises
// SIGBUS, which only a whole program can decide how to handle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocols/signals.hpp"

namespace vesk {

// Bytes that read() writes at once: no zeroing of them beforehand.
using FileBytes = std::vector<std::uint8_t, protocols::UninitialisedOnResize<std::uint8_t>>;

// Reads `fd` to its end into `out`, which is first sized for `expected`
// bytes (0 when unknown); a file that grows meanwhile is read on. Returns 0,
// or the errno of the failing read.
int read_to_end(int fd, std::size_t expected, FileBytes& out);

// Reads all of `fd` into `out`: a regular file from its start, sized from
// fstat; anything else from where it is. Returns 0, or the errno of the first
// failing call.
int read_whole_file(int fd, FileBytes& out);

}  // namespace vesk
