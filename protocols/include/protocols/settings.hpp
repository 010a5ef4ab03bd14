#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <vector>

#include "protocols/config.hpp"
#include "protocols/fields.hpp"
#include "protocols/machine_config.hpp"
#include "protocols/signals.hpp"

namespace protocols {

// Internal signal n is (n, 0, false); external source n is (0, n, true).
struct SignalSourceSelection {
    std::uint64_t internal = 0;  // position in Settings::signals, never checked
    std::uint64_t external = 0;  // external source number, never checked
    bool external_selected = false;

    bool operator==(const SignalSourceSelection&) const = default;
    static constexpr std::string_view type_name = "SignalSourceSelection";
    static constexpr auto fields =
        std::make_tuple(field("internal", &SignalSourceSelection::internal),
                        field("external", &SignalSourceSelection::external),
                        field("external_selected", &SignalSourceSelection::external_selected));
};

struct ChannelSettings {
    bool enabled = false;
    SignalSourceSelection amplitude1_source;
    SignalSourceSelection amplitude2_source;
    SignalSourceSelection modulation_source;
    std::uint64_t coil_idx = 0;          // position in MachineConfig::coils
    std::uint64_t coil_setting_idx = 0;  // position in that coil's settings

    bool operator==(const ChannelSettings&) const = default;
    static constexpr std::string_view type_name = "ChannelSettings";
    static constexpr auto fields =
        std::make_tuple(field("enabled", &ChannelSettings::enabled),
                        field("amplitude1_source", &ChannelSettings::amplitude1_source),
                        field("amplitude2_source", &ChannelSettings::amplitude2_source),
                        field("modulation_source", &ChannelSettings::modulation_source),
                        field("coil_idx", &ChannelSettings::coil_idx),
                        field("coil_setting_idx", &ChannelSettings::coil_setting_idx));
};

// The whole protocol. The field order is the protocol file's byte order and
// the text form's line order.
struct Settings {
    bool running_on_target_machine = false;
    MachineConfig machine_config;
    double intensity = 0.0;
    double session_duration = 60.0;  // seconds
    std::vector<Signal> signals;
    ChannelSettings channel_a_settings;
    ChannelSettings channel_b_settings;
    std::array<bool, 16> monitor_trace_visible{};
    std::uint64_t monitor_subsampling_factor = 1;

    // The library default: reads VESK_TARGET_MACHINE anew each time, one
    // constant 0.0 signal, channel A enabled.
    Settings();

    bool operator==(const Settings&) const = default;
    static constexpr std::string_view type_name = "Settings";
    static constexpr auto fields =
        std::make_tuple(field("running_on_target_machine", &Settings::running_on_target_machine),
                        field("machine_config", &Settings::machine_config),
                        field("intensity", &Settings::intensity),
                        field("session_duration", &Settings::session_duration),
                        field("signals", &Settings::signals),
                        field("channel_a_settings", &Settings::channel_a_settings),
                        field("channel_b_settings", &Settings::channel_b_settings),
                        field("monitor_trace_visible", &Settings::monitor_trace_visible),
                        field("monitor_subsampling_factor", &Settings::monitor_subsampling_factor));
};

// The signal list of the library default, and what saving puts into an empty list.
std::vector<Signal> default_signals();

// True when VESK_TARGET_MACHINE is set to valid UTF-8 (any value, "" included).
bool read_running_on_target_machine();

// What a Python Protocol object holds; its text form is what str() returns.
struct Protocol {
    Settings settings;

    static constexpr std::string_view type_name = "Protocol";
    static constexpr auto fields = std::make_tuple(field("settings", &Protocol::settings));
};

}  // namespace protocols
