#include "check.hpp"

#include <algorithm>
#include <cmath>
#include <variant>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/field_path.hpp"
#include "protocols/signals.hpp"

namespace vesk {

using namespace protocols;

namespace {

// "signals[0].Sine.frequency" from its parts: names and positions.
template <typename... Parts>
std::string field_path(const Parts&... parts) {
    FieldPath path;
    (path.enter(parts), ...);
    return path.text();
}

void check_limits(const Settings& s, std::vector<Finding>& problems) {
    // NaN is outside, as it would fail the setters.
    if (!config::INTENSITY.contains(s.intensity)) {
        problems.push_back(
            {field_path(field_name<&Settings::intensity>()),
             "intensity " + float_text(s.intensity) + " is outside " + config::INTENSITY.text()});
    }
    const double d = s.session_duration;
    if (!config::SESSION_DURATION.contains(d)) {
        problems.push_back({field_path(field_name<&Settings::session_duration>()),
                            "session duration " + float_text(d) + " s is outside " +
                                config::SESSION_DURATION.text()});
    }
}

void check_channels(const Settings& s, std::vector<Finding>& problems) {
    const auto& coils = s.machine_config.coils;
    for (const ChannelView& channel : channels(s)) {
        const std::string name = std::string("channel ") + channel.letter;
        const ChannelSettings& c = channel.settings;
        if (c.coil_idx >= coils.size()) {
            problems.push_back({field_path(channel.field, field_name<&ChannelSettings::coil_idx>()),
                                name + ": " +
                                    missing_text("coil", c.coil_idx, "the machine configuration",
                                                 coils.size(), "coil")});
        } else if (c.coil_setting_idx >= coils[c.coil_idx].settings.size()) {
            problems.push_back(
                {field_path(channel.field, field_name<&ChannelSettings::coil_setting_idx>()),
                 name + ": " +
                     missing_text("coil setting", c.coil_setting_idx,
                                  "coil " + std::to_string(c.coil_idx),
                                  coils[c.coil_idx].settings.size(), "setting")});
        }
        for (const ChannelInput& input : channel.inputs) {
            if (!input.source.external_selected && input.source.internal >= s.signals.size()) {
                problems.push_back(
                    {field_path(channel.field, input.field,
                                field_name<&SignalSourceSelection::internal>()),
                     name + " " + input.label + ": " +
                         missing_signal_text(input.source.internal, s.signals.size())});
            }
        }
    }
}

void check_signal(const Settings& s, std::size_t position, std::vector<Finding>& problems) {
    const Signal& signal = s.signals[position];
    const std::string name =
        "signal " + std::to_string(position) + " (" + std::string(signal_kind(signal)) + ")";
    std::visit(
        [&](const auto& params) {
            using Params = std::remove_cvref_t<decltype(params)>;
            const std::string_view signals = field_name<&Settings::signals>();
            if constexpr (std::is_same_v<Params, ArbitrarySignalParams>) {
                constexpr std::string_view samples = field_name<&ArbitrarySignalParams::samples>();
                const std::uint64_t expected = sample_count(s.session_duration);
                if (params.samples.size() != expected) {
                    problems.push_back(
                        {field_path(signals, position, Params::variant_name, samples),
                         name + ": " + plural(params.samples.size(), "sample") +
                             ", but the session has " + std::to_string(expected)});
                }
                // The lowest sample, a pass that vectorises, says whether there
                // is anything to count and find.
                if (stored_range(params.samples).low < config::STORED_CODE.low) {
                    const auto negative = [](std::int16_t sample) {
                        return !config::STORED_CODE.contains(sample);
                    };
                    const auto outside = static_cast<std::size_t>(
                        std::count_if(params.samples.begin(), params.samples.end(), negative));
                    const std::size_t first = static_cast<std::size_t>(
                        std::find_if(params.samples.begin(), params.samples.end(), negative) -
                        params.samples.begin());
                    problems.push_back(
                        {field_path(signals, position, Params::variant_name, samples, first),
                         name + ": " + plural(outside, "stored sample") + " outside " +
                             config::STORED_CODE.text() + ", the first at position " +
                             std::to_string(first) + " (" + std::to_string(params.samples[first]) +
                             ")"});
                }
            } else {
                for_each_field(params, [&](std::string_view field, const auto& value) {
                    const auto path = [&] {
                        return field_path(signals, position, Params::variant_name, field);
                    };
                    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, double>) {
                        if (!std::isfinite(value)) {
                            problems.push_back({path(), name + ": " + std::string(field) + " is " +
                                                            float_text(value)});
                        }
                    } else if (value >= s.signals.size()) {  // the positions of a MixedSignal
                        problems.push_back(
                            {path(), name + ": " + std::string(field) + " " +
                                         std::to_string(value) + " names no signal " +
                                         has_text("the protocol", s.signals.size(), "signal")});
                    }
                });
            }
        },
        signal);
}

}  // namespace

std::vector<Finding> find_problems(const Settings& settings) {
    std::vector<Finding> problems;
    check_limits(settings, problems);
    check_channels(settings, problems);
    for (std::size_t i = 0; i < settings.signals.size(); ++i) check_signal(settings, i, problems);
    return problems;
}

}  // namespace vesk
