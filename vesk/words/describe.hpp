// Names and one-line descriptions shared by `summary`, `check` and `plot`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocols/routing_inputs.hpp"
#include "protocols/settings.hpp"

namespace vesk {

// The project's float layout ("60.0", "1e-5", "NaN", "inf").
std::string float_text(double value);

std::string plural(std::uint64_t count, const char* noun);  // "1 signal", "3 signals"

// The last component of `path`: what a picture's title or a script calls the file.
std::string_view base_name(std::string_view path);

// "Sine amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0", ...
std::string signal_line(const protocols::Signal& signal);

std::string_view signal_kind(const protocols::Signal& signal);

// How every output says that a position names nothing: after the position
// in a short form, " (does not exist)", else "signal 5 does not exist (the
// protocol has 2 signals)" through missing_text.
inline constexpr std::string_view DOES_NOT_EXIST = " does not exist";
inline constexpr std::string_view NAMES_NOTHING = " (does not exist)";

// "<what> <index> does not exist (<holder> has <count> <noun>s)".
std::string missing_text(std::string_view what, std::uint64_t index, std::string_view holder,
                         std::uint64_t count, const char* noun);
std::string missing_signal_text(std::uint64_t index, std::uint64_t signals);
// "(the protocol has 2 signals)"
std::string has_text(std::string_view holder, std::uint64_t count, const char* noun);

// "coil 0 \"Default\", setting 0 (330.0 nF, 22.6 kHz)", the name quoted as
// a JSON string (no control character left raw); "(does not exist)" after a
// position out of range. A name that would make the text wider than
// `columns` (text_columns) is cut to fit.
std::string coil_text(const protocols::Settings& s, const protocols::ChannelSettings& channel,
                      std::size_t columns = SIZE_MAX);

// "external source 2", "signal 1 (Arbitrary)", "signal 7, which does not exist".
std::string source_text(const protocols::Settings& s,
                        const protocols::SignalSourceSelection& source);

// True for a selection as the setters write it: internal signal n as
// (n, 0, false), external source n as (0, n, true). source_text() tells
// exactly these apart; a crafted file may hold others.
bool setter_form(const protocols::SignalSourceSelection& source);

// The lowest and highest stored sample; {0, 0} for no samples.
struct StoredRange {
    std::int16_t low = 0;
    std::int16_t high = 0;
};
StoredRange stored_range(std::span<const std::int16_t> samples);

// "Arbitrary 250 samples", with ", stored 0..32767" when given the range of
// a signal that has samples.
std::string arbitrary_text(std::uint64_t count, std::optional<StoredRange> range = std::nullopt);

// One of a channel's three inputs and what the script calls it.
struct ChannelInput {
    std::string name;        // the API's name for it: "Coil.A1", "Channel.A"
    std::string label;       // "amplitude 1 (Coil.A1)", "modulation (Channel.A)"
    std::string_view field;  // its field in ChannelSettings: "amplitude1_source", ...
    const protocols::SignalSourceSelection& source;
    const protocols::RoutingInput& routing;  // its entry in protocols::ROUTING_INPUTS
};

struct ChannelView {
    char letter;             // 'A' or 'B'
    std::string_view field;  // its field in Settings: "channel_a_settings", ...
    const protocols::ChannelSettings& settings;
    std::array<ChannelInput, 3> inputs;
};

std::array<ChannelView, 2> channels(const protocols::Settings& settings);

}  // namespace vesk
