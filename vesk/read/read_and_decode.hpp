// Reading a protocol file and decoding it as it is read, for callers that
// keep only the record: no copy of the whole file is made.
#pragma once

#include <optional>

#include "protocols/decoder.hpp"

namespace vesk {

// What became of one file: the errno of a failing call, or the decoder's result.
struct FileDecoding {
    int os_error = 0;
    std::optional<protocols::DecodeResult> decoded;
};

// Opens `path` read-only and decodes what it holds, as open, read_whole_file and
// decode_file would together: the same record, the same errno or the same
// refusal.
FileDecoding read_and_decode(const char* path);

}  // namespace vesk
