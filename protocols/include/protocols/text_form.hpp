#pragma once

#include <string>

#include "protocols/error.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// Each write_text appends the value's multi-line text form to `out`; `level`
// is the indentation level (four spaces each) of the line it starts on. No
// line break follows the last character.
void write_text(std::string& out, const Protocol& value, unsigned level = 0);
void write_text(std::string& out, const Settings& value, unsigned level = 0);
void write_text(std::string& out, const MachineConfig& value, unsigned level = 0);
void write_text(std::string& out, const Coil& value, unsigned level = 0);
void write_text(std::string& out, const LCSetting& value, unsigned level = 0);
void write_text(std::string& out, const ChannelSettings& value, unsigned level = 0);
void write_text(std::string& out, const SignalSourceSelection& value, unsigned level = 0);
void write_text(std::string& out, const Signal& value, unsigned level = 0);
void write_text(std::string& out, const ConstantSignalParams& value, unsigned level = 0);
void write_text(std::string& out, const SineSignalParams& value, unsigned level = 0);
void write_text(std::string& out, const RampSignalParams& value, unsigned level = 0);
void write_text(std::string& out, const MixedSignalParams& value, unsigned level = 0);
void write_text(std::string& out, const ArbitrarySignalParams& value, unsigned level = 0);
void write_text(std::string& out, VESKError value, unsigned level = 0);

// The float layout: shortest round-trip digits, exponent form at magnitude
// >= 1e16 or below 1e-4, "-0.0", "NaN", "inf", "-inf".
void write_float(std::string& out, double value);

template <typename T>
std::string text_form(const T& value) {
    std::string out;
    write_text(out, value, 0);
    return out;
}

}  // namespace protocols
