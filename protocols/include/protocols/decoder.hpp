// Reading a protocol file back: the exact inverse of encode_file.
//
// The decoder is strict, so that every byte string it accepts re-encodes to
// itself: it refuses anything the encoder could not have written (overlong
// varints, bool bytes other than 00/01, trailing bytes, ...). It is safe on
// untrusted input: it never reads past the end, and never allocates room for
// more elements than the remaining bytes could hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "protocols/settings.hpp"

namespace protocols {

struct DecodeError {
    std::size_t offset = 0;  // where the offending value starts in the input
    std::string path;        // e.g. "machine_config.coils[0].name"; empty for the file as a whole
    std::string message;

    // "offset 151: signals[0]: unknown signal variant 7" (no path part when
    // the path is empty).
    std::string describe() const;

    bool operator==(const DecodeError&) const = default;
};

// The decoded record or the first reason it was refused.
class DecodeResult {
public:
    DecodeResult(Settings value) : state_(std::move(value)) {}
    DecodeResult(DecodeError error) : state_(std::move(error)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    Settings& value() & { return std::get<0>(state_); }
    const Settings& value() const& { return std::get<0>(state_); }
    Settings&& value() && { return std::get<0>(std::move(state_)); }
    const DecodeError& error() const { return std::get<1>(state_); }

private:
    std::variant<Settings, DecodeError> state_;
};

// Decodes a whole protocol file: exactly one Settings record, no more bytes.
DecodeResult decode_file(std::span<const std::uint8_t> bytes);

// Where the bytes of a file come from when it is decoded as it is read.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Copies the file's next bytes to [out, out + room) and returns how many:
    // at least one, or 0 when it has no more or cannot be read further.
    virtual std::size_t read_some(std::uint8_t* out, std::size_t room) = 0;
};

inline constexpr std::size_t DECODE_PIECE_BYTES = std::size_t{1} << 20;

// Decodes a file of `size` bytes that `source` gives in order, holding only a
// window of about `piece` bytes of it at a time (more only for a string longer
// than that): the window stays in the processor's caches, and no copy of the
// whole file is made. The result is decode_file's for the same bytes. Reads
// no more than `size` bytes; if the source gives fewer, decoding fails where
// they end.
DecodeResult decode_file(ByteSource& source, std::size_t size,
                         std::size_t piece = DECODE_PIECE_BYTES);

}  // namespace protocols
