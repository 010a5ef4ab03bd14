#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/error.hpp"
#include "protocols/fields.hpp"

namespace protocols {

inline constexpr double CLOCK_RATE = 160000000.0;  // ticks per second
inline constexpr std::uint64_t SAMPLES_PER_CARRIER_PERIOD = 32;

struct LCSetting {
    double capacitance = 0.0;        // nF, copied from the tuning input
    double carrier_frequency = 0.0;  // kHz, what the tick count gives
    std::uint64_t clk_ticks_per_sample = 0;
    std::uint64_t capacitor_bank_setting = 0;  // 1-based position in the tuning input

    PROTOCOLS_RECORD(LCSetting, capacitance, carrier_frequency, clk_ticks_per_sample,
                     capacitor_bank_setting);
};

struct Coil {
    std::string name;
    double inductance = 0.0;  // µH
    double max_current = 0.0;
    double max_carrier_frequency = 0.0;  // kHz, bounds the tuning
    std::vector<LCSetting> settings;     // largest tick count first

    // The default coil "Default": 330 nF, 150 µH, 0.1, 40 kHz.
    Coil();
    Coil(std::string name, double inductance, double max_current, double max_carrier_frequency,
         std::vector<LCSetting> settings);

    // `new_` because `new` is reserved. Tunes a coil against every capacitance offered (nF);
    // ConfigError when no capacitance gives a carrier frequency within max_carrier_frequency (kHz).
    static Result<Coil> new_(std::string name, std::span<const double> capacitances,
                             double inductance, double max_current, double max_carrier_frequency);

    PROTOCOLS_RECORD(Coil, name, inductance, max_current, max_carrier_frequency, settings);
};

}  // namespace protocols
