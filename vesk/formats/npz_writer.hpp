// A .npz archive, as numpy.load reads it: an uncompressed ZIP of .npy files
// (format 1.0), here one-dimensional int16 arrays. Handed to a sink as it
// goes, each array's values straight from the caller's memory. ZIP64 end
// records are added when the archive has more than 65535 entries or its
// central directory lies past 4 GiB; a single entry must stay below 4 GiB
// (about 2**31 values, npz_entry_fits), else add() fails.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/text_form.hpp"

namespace vesk {

class NpzWriter {
public:
    explicit NpzWriter(protocols::TextSink sink) : sink_(std::move(sink)) {}

    // Adds `name`.npy holding `values`. False when the sink refuses a piece
    // or the entry does not fit.
    bool add(std::string_view name, std::span<const std::int16_t> values);
    // The same where the CRC-32 of the values' bytes is known already.
    bool add(std::string_view name, std::span<const std::int16_t> values, std::uint32_t values_crc);

    // Writes the central directory. False when the sink refuses a piece.
    bool finish();

private:
    struct Entry {
        std::string name;  // with ".npy"
        std::uint32_t crc = 0;
        std::uint32_t size = 0;
        std::uint64_t offset = 0;  // of its local header
    };

    bool write_all(std::span<const std::uint8_t> bytes);

    protocols::TextSink sink_;
    std::uint64_t offset_ = 0;
    std::vector<Entry> entries_;
};

// The .npy header of a one-dimensional array of `count` int16 values in the
// host's byte order: magic, version 1.0, and the padded dictionary.
std::string npy_int16_header(std::uint64_t count);

// Whether an entry of `count` values stays below ZIP's 4 GiB.
bool npz_entry_fits(std::uint64_t count);

// `values` as a .npy file of its own: the header, then the values. False
// when `write` refuses a piece.
bool write_npy_int16(std::span<const std::int16_t> values, const protocols::TextSink& write);

}  // namespace vesk
