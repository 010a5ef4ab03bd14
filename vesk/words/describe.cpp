#include "describe.hpp"

#include <algorithm>
#include <variant>

#include "protocols/fields.hpp"
#include "protocols/json_form.hpp"
#include "protocols/routing_inputs.hpp"
#include "protocols/text_form.hpp"
#include "text_columns.hpp"

namespace vesk {

using namespace protocols;

std::string float_text(double value) {
    std::string text;
    write_float(text, value);
    return text;
}

std::string plural(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string_view base_name(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view signal_kind(const Signal& signal) {
    return std::visit([](const auto& params) { return params.variant_name; }, signal);
}

StoredRange stored_range(std::span<const std::int16_t> samples) {
    if (samples.empty()) return {};
    // Plain min and max, which vectorise, where std::minmax_element branches.
    StoredRange range{samples[0], samples[0]};
    for (const std::int16_t sample : samples) {
        range.low = std::min(range.low, sample);
        range.high = std::max(range.high, sample);
    }
    return range;
}

namespace {

// "name value, name value, ..." over a parameter record's declared fields.
template <typename Params>
std::string field_list(const Params& params) {
    std::string text;
    for_each_field(params, [&](std::string_view name, const auto& value) {
        if (!text.empty()) text += ", ";
        text += name;
        text += ' ';
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, double>) {
            text += float_text(value);
        } else {
            text += std::to_string(value);
        }
    });
    return text;
}

}  // namespace

std::string arbitrary_text(std::uint64_t count, std::optional<StoredRange> range) {
    std::string text =
        std::string(ArbitrarySignalParams::variant_name) + " " + plural(count, "sample");
    if (count != 0 && range) {
        text += ", stored " + std::to_string(range->low) + ".." + std::to_string(range->high);
    }
    return text;
}

std::string missing_text(std::string_view what, std::uint64_t index, std::string_view holder,
                         std::uint64_t count, const char* noun) {
    return std::string(what) + " " + std::to_string(index) + std::string(DOES_NOT_EXIST) + " " +
           has_text(holder, count, noun);
}

std::string has_text(std::string_view holder, std::uint64_t count, const char* noun) {
    std::string text = "(";
    text += holder;
    text += " has " + plural(count, noun) + ")";
    return text;
}

std::string missing_signal_text(std::uint64_t index, std::uint64_t signals) {
    return missing_text("signal", index, "the protocol", signals, "signal");
}

std::string signal_line(const Signal& signal) {
    return std::visit(
        [](const auto& params) -> std::string {
            using Params = std::remove_cvref_t<decltype(params)>;
            if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
                return arbitrary_text(params.samples.size(), stored_range(params.samples));
            } else {
                return std::string(Params::variant_name) + " " + field_list(params);
            }
        },
        signal);
}

std::string coil_text(const Settings& s, const ChannelSettings& channel, std::size_t columns) {
    const auto& coils = s.machine_config.coils;
    std::string text = "coil " + std::to_string(channel.coil_idx);
    if (channel.coil_idx >= coils.size()) return text + std::string(NAMES_NOTHING);
    const Coil& coil = coils[channel.coil_idx];
    text += ' ';
    std::string rest = ", setting " + std::to_string(channel.coil_setting_idx);
    if (channel.coil_setting_idx >= coil.settings.size()) {
        rest += NAMES_NOTHING;
    } else {
        const LCSetting& setting = coil.settings[channel.coil_setting_idx];
        rest += " (" + float_text(setting.capacitance) + " nF, " +
                float_text(setting.carrier_frequency) + " kHz)";
    }
    // Quoted as in JSON: a name from a crafted file can hold line breaks or
    // control characters that a terminal would act on.
    const std::size_t around = text_columns(text) + text_columns(rest);
    return text + json_string_within(coil.name, columns - std::min(columns, around)) + rest;
}

std::string source_text(const Settings& s, const SignalSourceSelection& source) {
    if (source.external_selected) return "external source " + std::to_string(source.external);
    std::string text = "signal " + std::to_string(source.internal);
    if (source.internal >= s.signals.size()) return text + ", which" + std::string(DOES_NOT_EXIST);
    return text + " (" + std::string(signal_kind(s.signals[source.internal])) + ")";
}

bool setter_form(const SignalSourceSelection& source) {
    return source.external_selected ? source.internal == 0 : source.external == 0;
}

std::array<ChannelView, 2> channels(const Settings& settings) {
    // Channel A's inputs come first in the table, then channel B's.
    constexpr std::size_t PER_CHANNEL = ROUTING_INPUTS.size() / 2;
    auto view = [&](std::size_t first) {
        const RoutingInput& lead = ROUTING_INPUTS[first];
        const auto input = [&](std::size_t i) {
            const RoutingInput& routing = ROUTING_INPUTS[first + i];
            return ChannelInput{
                std::string(routing.api_name),
                std::string(routing.label) + " (" + std::string(routing.api_name) + ")",
                routing.source_field, routing.selection(settings), routing};
        };
        return ChannelView{lead.channel_letter(),
                           lead.channel_field,
                           settings.*(lead.channel),
                           {input(0), input(1), input(2)}};
    };
    static_assert(PER_CHANNEL == 3 && ROUTING_INPUTS[0].channel == ROUTING_INPUTS[2].channel &&
                  ROUTING_INPUTS[3].channel == ROUTING_INPUTS[5].channel);
    return {view(0), view(PER_CHANNEL)};
}

}  // namespace vesk
