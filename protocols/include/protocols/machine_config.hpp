#pragma once

#include <cstdint>
#include <string_view>
#include <tuple>
#include <vector>

#include "protocols/fields.hpp"
#include "protocols/lcsettings.hpp"

namespace protocols {

// The stimulator's hardware description. Only ever built with its defaults;
// num_coils and coils.size() are independent fields.
struct MachineConfig {
    double supply_voltage = 80.0;
    std::uint64_t num_coils = 2;
    std::vector<Coil> coils;
    std::vector<double> capacitors;             // nF
    std::vector<double> possible_capacitances;  // nF
    std::uint64_t num_external_signal_sources = 6;
    bool smbus_psu_connected = false;
    std::uint64_t num_temperature_sensors = 0;
    std::uint64_t num_flow_rate_sensors = 0;
    bool safety_checks_enabled = true;
    double max_intensity_setpoint = 0.3;
    double max_current = 0.5;
    double max_carrier_frequency = 40.0;  // kHz
    double max_temperature = 40.0;
    double min_flowrate = 70.0;
    double max_power = 520.0;

    // One default coil, one 330 nF capacitor.
    MachineConfig();

    bool operator==(const MachineConfig&) const = default;

    static constexpr std::string_view type_name = "MachineConfig";
    static constexpr auto fields = std::make_tuple(
        field("supply_voltage", &MachineConfig::supply_voltage),
        field("num_coils", &MachineConfig::num_coils), field("coils", &MachineConfig::coils),
        field("capacitors", &MachineConfig::capacitors),
        field("possible_capacitances", &MachineConfig::possible_capacitances),
        field("num_external_signal_sources", &MachineConfig::num_external_signal_sources),
        field("smbus_psu_connected", &MachineConfig::smbus_psu_connected),
        field("num_temperature_sensors", &MachineConfig::num_temperature_sensors),
        field("num_flow_rate_sensors", &MachineConfig::num_flow_rate_sensors),
        field("safety_checks_enabled", &MachineConfig::safety_checks_enabled),
        field("max_intensity_setpoint", &MachineConfig::max_intensity_setpoint),
        field("max_current", &MachineConfig::max_current),
        field("max_carrier_frequency", &MachineConfig::max_carrier_frequency),
        field("max_temperature", &MachineConfig::max_temperature),
        field("min_flowrate", &MachineConfig::min_flowrate),
        field("max_power", &MachineConfig::max_power));
};

}  // namespace protocols
