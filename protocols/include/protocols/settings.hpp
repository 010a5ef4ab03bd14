#pragma once

#include <array>
#include <cstdint>
#include <string_view>
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

    PROTOCOLS_RECORD(SignalSourceSelection, internal, external, external_selected);
};

struct ChannelSettings {
    bool enabled = false;
    SignalSourceSelection amplitude1_source;
    SignalSourceSelection amplitude2_source;
    SignalSourceSelection modulation_source;
    std::uint64_t coil_idx = 0;          // position in MachineConfig::coils
    std::uint64_t coil_setting_idx = 0;  // position in that coil's settings

    PROTOCOLS_RECORD(ChannelSettings, enabled, amplitude1_source, amplitude2_source,
                     modulation_source, coil_idx, coil_setting_idx);
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

    PROTOCOLS_RECORD(Settings, running_on_target_machine, machine_config, intensity,
                     session_duration, signals, channel_a_settings, channel_b_settings,
                     monitor_trace_visible, monitor_subsampling_factor);
};

// The signal list of the library default, and what saving puts into an empty list.
std::vector<Signal> default_signals();

// True when VESK_TARGET_MACHINE is set to valid UTF-8 (any value, "" included).
bool read_running_on_target_machine();

// What a Python Protocol object holds; its text form is what str() returns.
struct Protocol {
    Settings settings;

    PROTOCOLS_RECORD(Protocol, settings);
};

}  // namespace protocols
