// The six inputs a protocol routes a source to: per channel, two amplitude
// inputs and the modulation input. Everything that names, sets or shows an
// input (the Python enumeration members and setters, the summary, the check,
// the rebuilt script) walks this one table, so that a name and the field it
// stands for cannot come apart.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"

namespace protocols {

// Amplitude inputs are members of the Python class Coil, modulation inputs
// of Channel; each kind has its own setter.
enum class InputKind { amplitude, modulation };

struct RoutingInput {
    InputKind kind;
    ChannelSettings Settings::*channel;              // the channel's record
    SignalSourceSelection ChannelSettings::*source;  // the input's selection in it
    std::string_view channel_field;                  // "channel_a_settings"
    std::string_view source_field;                   // "amplitude1_source"
    std::string_view api_name;  // "Coil.A1": the enumeration member, as repr shows it
    std::string_view label;     // "amplitude 1": what the summary calls it
    std::string_view setter;    // "set_amplitude_source"
    std::string_view keyword;   // "coil": the setter's parameter for the member

    // "Coil" and "A1"; member() is a suffix of api_name, so NUL-terminated like it.
    constexpr std::string_view enum_class() const { return api_name.substr(0, api_name.find('.')); }
    constexpr std::string_view member() const { return api_name.substr(api_name.find('.') + 1); }
    constexpr char channel_letter() const { return member()[0]; }

    SignalSourceSelection& selection(Settings& s) const { return s.*channel.*source; }
    const SignalSourceSelection& selection(const Settings& s) const { return s.*channel.*source; }
};

namespace detail {

// One of the three inputs of every channel.
struct ChannelInputField {
    SignalSourceSelection ChannelSettings::*source;
    InputKind kind;
    std::string_view label;
};
inline constexpr ChannelInputField AMPLITUDE_1{&ChannelSettings::amplitude1_source,
                                               InputKind::amplitude, "amplitude 1"};
inline constexpr ChannelInputField AMPLITUDE_2{&ChannelSettings::amplitude2_source,
                                               InputKind::amplitude, "amplitude 2"};
inline constexpr ChannelInputField MODULATION{&ChannelSettings::modulation_source,
                                              InputKind::modulation, "modulation"};
inline constexpr auto CHANNEL_A = &Settings::channel_a_settings;
inline constexpr auto CHANNEL_B = &Settings::channel_b_settings;

template <auto Channel, const ChannelInputField& Input>
consteval RoutingInput routing_input(std::string_view api_name) {
    const bool amplitude = Input.kind == InputKind::amplitude;
    return {Input.kind,
            Channel,
            Input.source,
            field_name<Channel>(),
            field_name<Input.source>(),
            api_name,
            Input.label,
            amplitude ? "set_amplitude_source" : "set_modulation_source",
            amplitude ? "coil" : "channel"};
}

}  // namespace detail

// In the order the summary lists them: channel A's inputs, then channel B's.
inline constexpr std::array<RoutingInput, 6> ROUTING_INPUTS = {
    detail::routing_input<detail::CHANNEL_A, detail::AMPLITUDE_1>("Coil.A1"),
    detail::routing_input<detail::CHANNEL_A, detail::AMPLITUDE_2>("Coil.A2"),
    detail::routing_input<detail::CHANNEL_A, detail::MODULATION>("Channel.A"),
    detail::routing_input<detail::CHANNEL_B, detail::AMPLITUDE_1>("Coil.B1"),
    detail::routing_input<detail::CHANNEL_B, detail::AMPLITUDE_2>("Coil.B2"),
    detail::routing_input<detail::CHANNEL_B, detail::MODULATION>("Channel.B"),
};

// Each selection field of each channel has exactly one entry, so that a walk
// of the record finds every input it meets in the table.
consteval bool routing_inputs_cover_every_selection() {
    std::size_t selections = 0;
    std::apply(
        [&](const auto&... f) {
            ((selections +=
              std::is_same_v<std::remove_cvref_t<decltype(ChannelSettings{}.*(f.member))>,
                             SignalSourceSelection>
                  ? 1
                  : 0),
             ...);
        },
        ChannelSettings::fields);
    for (std::size_t i = 0; i < ROUTING_INPUTS.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (ROUTING_INPUTS[i].channel_field == ROUTING_INPUTS[j].channel_field &&
                ROUTING_INPUTS[i].source_field == ROUTING_INPUTS[j].source_field) {
                return false;
            }
        }
    }
    return ROUTING_INPUTS.size() == 2 * selections;
}
static_assert(routing_inputs_cover_every_selection());

// How many inputs are of `kind`: the members of its enumeration class.
consteval std::size_t count_of_kind(InputKind kind) {
    std::size_t count = 0;
    for (const RoutingInput& input : ROUTING_INPUTS) count += input.kind == kind ? 1 : 0;
    return count;
}

// The inputs of one kind in table order; a member's value in its Python class
// is its position here.
template <InputKind Kind>
inline constexpr auto INPUTS_OF_KIND = [] {
    std::array<RoutingInput, count_of_kind(Kind)> found{};
    std::size_t at = 0;
    for (const RoutingInput& input : ROUTING_INPUTS) {
        if (input.kind == Kind) found[at++] = input;
    }
    return found;
}();

// The input whose selection is `source_field` of the channel `channel_field`;
// nullptr for a field that is no input.
constexpr const RoutingInput* find_routing_input(std::string_view channel_field,
                                                 std::string_view source_field) {
    for (const RoutingInput& input : ROUTING_INPUTS) {
        if (input.channel_field == channel_field && input.source_field == source_field) {
            return &input;
        }
    }
    return nullptr;
}

// The modulation input of a channel, whose Channel member also names the
// channel itself (enable_channel).
constexpr const RoutingInput* modulation_input(std::string_view channel_field) {
    for (const RoutingInput& input : ROUTING_INPUTS) {
        if (input.kind == InputKind::modulation && input.channel_field == channel_field) {
            return &input;
        }
    }
    return nullptr;
}

}  // namespace protocols
