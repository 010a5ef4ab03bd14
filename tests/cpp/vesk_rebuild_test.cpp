#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "protocols/signals.hpp"
#include "rebuild.hpp"

namespace vesk {
namespace {

using namespace protocols;

// A record that a new Protocol with one constant signal saves.
Settings sound_record() {
    Settings s;
    s.running_on_target_machine = false;
    return s;
}

Samples codes(std::size_t count, std::int16_t value = 0) {
    Samples samples(count);
    std::fill(samples.begin(), samples.end(), value);
    return samples;
}

struct Refusal {
    const char* name;
    std::function<void(Settings&)> edit;
    std::string field;
    std::string value;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameTheFirstFieldThatNoCallWrites) {
    Settings s = sound_record();
    GetParam().edit(s);
    const auto planned = plan_rebuild(s);
    ASSERT_TRUE(std::holds_alternative<NotReproducible>(planned));
    const NotReproducible& refusal = std::get<NotReproducible>(planned);
    EXPECT_EQ(refusal.field, GetParam().field);
    EXPECT_EQ(refusal.value, GetParam().value);
    EXPECT_EQ(refusal.message().rfind(refusal.field + " = " + refusal.value + ": ", 0), 0u);
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, Refusals,
    ::testing::Values(
        Refusal{"CoilName", [](Settings& s) { s.machine_config.coils[0].name = "Coil 2"; },
                "machine_config.coils[0].name", "\"Coil 2\""},
        Refusal{"TuningDeepInside",
                [](Settings& s) { s.machine_config.coils[0].settings[0].clk_ticks_per_sample = 7; },
                "machine_config.coils[0].settings[0].clk_ticks_per_sample", "7"},
        Refusal{"SecondCoil", [](Settings& s) { s.machine_config.coils.push_back(Coil()); },
                "machine_config.coils", "2 entries"},
        Refusal{"NegativeZeroCapacitor", [](Settings& s) { s.machine_config.capacitors[0] = -0.0; },
                "machine_config.capacitors[0]", "-0.0"},
        Refusal{"IntensityNaN", [](Settings& s) { s.intensity = NaN; }, "intensity", "NaN"},
        Refusal{"DurationNaN", [](Settings& s) { s.session_duration = NaN; }, "session_duration",
                "NaN s"},
        Refusal{"NoSignals", [](Settings& s) { s.signals.clear(); }, "signals", "[]"},
        Refusal{"NegativeCode",
                [](Settings& s) {
                    s.session_duration = 0.01;
                    Samples samples = codes(50, 7);
                    samples[17] = -5;
                    samples[30] = -1;
                    s.signals.push_back(ArbitrarySignalParams{std::move(samples)});
                },
                "signals[1].Arbitrary.samples[17]", "-5"},
        Refusal{"TooManySamples",
                [](Settings& s) { s.signals.push_back(ArbitrarySignalParams{codes(9000001)}); },
                "signals[1].Arbitrary.samples", "[9000001 samples]"},
        Refusal{"ChannelADisabled", [](Settings& s) { s.channel_a_settings.enabled = false; },
                "channel_a_settings.enabled", "false"},
        Refusal{"InternalWithExternalNumber",
                [](Settings& s) {
                    s.channel_a_settings.amplitude2_source = {3, 2, false};
                },
                "channel_a_settings.amplitude2_source",
                "SignalSourceSelection { internal: 3, external: 2, external_selected: false }"},
        Refusal{"ExternalWithInternalNumber",
                [](Settings& s) {
                    s.channel_b_settings.modulation_source = {1, 2, true};
                },
                "channel_b_settings.modulation_source",
                "SignalSourceSelection { internal: 1, external: 2, external_selected: true }"},
        Refusal{"CoilPosition", [](Settings& s) { s.channel_a_settings.coil_idx = 1; },
                "channel_a_settings.coil_idx", "1"},
        Refusal{"CoilSettingPosition",
                [](Settings& s) { s.channel_b_settings.coil_setting_idx = 2; },
                "channel_b_settings.coil_setting_idx", "2"},
        Refusal{"MonitorTrace", [](Settings& s) { s.monitor_trace_visible[5] = true; },
                "monitor_trace_visible[5]", "true"},
        Refusal{"MonitorSubsampling", [](Settings& s) { s.monitor_subsampling_factor = 2; },
                "monitor_subsampling_factor", "2"},
        Refusal{"EarlierFieldWins",
                [](Settings& s) {
                    s.monitor_subsampling_factor = 2;
                    s.channel_a_settings.coil_idx = 1;
                    s.intensity = -0.5;
                },
                "intensity", "-0.5"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every length from the shortest session's to the longest's has a duration
// within the setter's limits that gives exactly that many samples; no other
// length has one.
TEST(DurationForSamples, EveryCountWithinTheLimitsAndNoOther) {
    const std::uint64_t shortest = sample_count(config::MIN_SESSION_DURATION);
    const std::uint64_t longest = sample_count(config::MAX_SESSION_DURATION);
    for (std::uint64_t n = shortest; n <= longest; ++n) {
        const std::optional<double> duration = duration_for_samples(n);
        ASSERT_TRUE(duration.has_value()) << n;
        ASSERT_EQ(sample_count(*duration), n) << n;
        ASSERT_GE(*duration, config::MIN_SESSION_DURATION) << n;
        ASSERT_LE(*duration, config::MAX_SESSION_DURATION) << n;
    }
    for (const std::uint64_t n :
         {std::uint64_t{0}, shortest - 1, longest + 1, std::numeric_limits<std::uint64_t>::max()}) {
        EXPECT_FALSE(duration_for_samples(n).has_value()) << n;
    }
}

// Every code add_arbitrary_signal can store comes back from the value passed
// for it, at every position of the vectorised loop and its scalar remainder.
TEST(StoredSampleValues, QuantiseBackToEveryCode) {
    constexpr std::size_t CODES = 32768;
    constexpr std::size_t EXTRA = 7;  // a length no vector width divides
    Samples samples(CODES + EXTRA);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>((i * 7919) % CODES);  // every code, scattered
    }
    std::vector<double> values(samples.size());
    stored_sample_values(samples, values.data());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(quantise_sample(values[i]), samples[i]) << i;
        ASSERT_EQ(values[i], samples[i] / 32767.0) << i;
    }
}

// Exactly position / 5000.0, for the first positions and for a run far into
// a session (where a position needs more than 32 bits), of a length no
// vector width divides.
TEST(SampleTimes, ArePositionsOverTheSamplingRate) {
    for (const std::size_t first : {std::size_t{0}, (std::size_t{1} << 33) + 5}) {
        std::vector<double> times(1003);
        sample_times(first, times.size(), times.data());
        for (std::size_t k = 0; k < times.size(); ++k) {
            ASSERT_EQ(times[k], static_cast<double>(first + k) / 5000.0) << first << "+" << k;
        }
    }
}

}  // namespace
}  // namespace vesk
