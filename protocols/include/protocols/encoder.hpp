#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "protocols/one_of.hpp"
#include "protocols/settings.hpp"

namespace protocols {

using Bytes = std::vector<std::uint8_t>;

// The record and the parts of it that are encoded on their own.
using EncodedValue = OneOf<Settings, Coil, ChannelSettings, SignalSourceSelection, Signal,
                           MixedSignalParams, ArbitrarySignalParams>;

// Appends the value's postcard bytes to `out`, fields in declaration order,
// nested records in place.
void serialize(EncodedValue value, Bytes& out);

// The whole protocol file for `settings`.
Bytes encode_file(const Settings& settings);

// Receives the protocol file piece by piece, in order; returns false to stop.
// A piece is valid only during the call.
using PieceSink = std::function<bool(std::span<const std::uint8_t>)>;

// The protocol file for `settings` handed to `sink` in pieces of at least
// `piece_bytes` (the last may be shorter; a piece may be longer by one sample
// chunk), so that a writer needs no buffer of the whole file: the pieces put
// together are encode_file(settings). Returns false if the sink stopped it.
bool encode_file_in_pieces(const Settings& settings, std::size_t piece_bytes,
                           const PieceSink& sink);

}  // namespace protocols
