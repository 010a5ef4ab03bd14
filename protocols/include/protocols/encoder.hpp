#pragma once

#include <cstdint>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols {

using Bytes = std::vector<std::uint8_t>;

// Each serialize appends the record's postcard bytes to `out`, fields in
// declaration order, nested records in place.
void serialize(const Settings& value, Bytes& out);
void serialize(const MachineConfig& value, Bytes& out);
void serialize(const Coil& value, Bytes& out);
void serialize(const LCSetting& value, Bytes& out);
void serialize(const ChannelSettings& value, Bytes& out);
void serialize(const SignalSourceSelection& value, Bytes& out);
void serialize(const Signal& value, Bytes& out);
void serialize(const ConstantSignalParams& value, Bytes& out);
void serialize(const SineSignalParams& value, Bytes& out);
void serialize(const RampSignalParams& value, Bytes& out);
void serialize(const MixedSignalParams& value, Bytes& out);
void serialize(const ArbitrarySignalParams& value, Bytes& out);

// The whole protocol file for `settings`.
Bytes encode_file(const Settings& settings);

}  // namespace protocols
