#include "protocols/lcsettings.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "protocols/log.hpp"
#include "saturating_cast.hpp"

namespace protocols {
namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double MICRO = 1e-6;
constexpr double NANO = 1e-9;
constexpr double PER_SECOND_TO_KHZ = 0.001;

// The operations and their order are part of the result: the stored carrier
// frequencies must match bit for bit, so no step may be regrouped.
LCSetting tune(double capacitance, double inductance, std::uint64_t bank_setting) {
    double p = inductance * MICRO;
    p = p * capacitance;
    p = p * NANO;
    const double s = std::sqrt(p) * TWO_PI;
    const double resonance = 1.0 / s;
    const double ideal_ticks =
        CLOCK_RATE / (resonance * static_cast<double>(SAMPLES_PER_CARRIER_PERIOD));
    const std::uint64_t ticks = saturating_to_u64(std::round(ideal_ticks));
    // Modulo 2^64 on purpose; 0 ticks gives a divisor of 0 and an infinite frequency.
    const double divisor = static_cast<double>(ticks * SAMPLES_PER_CARRIER_PERIOD);
    const double carrier = CLOCK_RATE / divisor * PER_SECOND_TO_KHZ;
    return LCSetting{capacitance, carrier, ticks, bank_setting};
}

}  // namespace

Coil::Coil(std::string name, double inductance, double max_current, double max_carrier_frequency,
           std::vector<LCSetting> settings)
    : name(std::move(name)),
      inductance(inductance),
      max_current(max_current),
      max_carrier_frequency(max_carrier_frequency),
      settings(std::move(settings)) {}

Coil::Coil() {
    const double capacitances[] = {330.0};
    Result<Coil> tuned = new_("Default", capacitances, 150.0, 0.1, 40.0);
    if (!tuned) {
        std::fputs("protocols: the default coil cannot be tuned\n", stderr);
        std::abort();
    }
    *this = std::move(tuned).value();
}

Result<Coil> Coil::new_(std::string name, std::span<const double> capacitances, double inductance,
                        double max_current, double max_carrier_frequency) {
    std::vector<LCSetting> kept;
    for (std::size_t i = 0; i < capacitances.size(); ++i) {
        const LCSetting setting = tune(capacitances[i], inductance, i + 1);
        // Written so that a NaN on either side drops the setting.
        if (max_carrier_frequency >= setting.carrier_frequency) kept.push_back(setting);
    }
    if (kept.empty()) {
        log::report(log::Level::Error, "protocols::lcsettings",
                    "No valid carrier frequency can be calculated for coil " + name);
        return VESKError::ConfigError;
    }
    // Ascending stable sort then reverse: among equal tick counts the later
    // capacitance comes first, which a descending stable sort would not give.
    std::stable_sort(kept.begin(), kept.end(), [](const LCSetting& a, const LCSetting& b) {
        return a.clk_ticks_per_sample < b.clk_ticks_per_sample;
    });
    std::reverse(kept.begin(), kept.end());
    return Coil(std::move(name), inductance, max_current, max_carrier_frequency, std::move(kept));
}

}  // namespace protocols
