#pragma once

#include <cstdint>
#include <string_view>
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

    PROTOCOLS_RECORD(MachineConfig, supply_voltage, num_coils, coils, capacitors,
                     possible_capacitances, num_external_signal_sources, smbus_psu_connected,
                     num_temperature_sensors, num_flow_rate_sensors, safety_checks_enabled,
                     max_intensity_setpoint, max_current, max_carrier_frequency, max_temperature,
                     min_flowrate, max_power);
};

}  // namespace protocols
