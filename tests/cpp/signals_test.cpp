#include "protocols/signals.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "param_name.hpp"

namespace protocols {
namespace {

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

struct CountCase {
    double duration;
    std::uint64_t samples;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.duration;
}

class SampleCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(SampleCount, IsCeilingOfDurationTimesRate) {
    EXPECT_EQ(sample_count(GetParam().duration), GetParam().samples) << GetParam().duration;
}

INSTANTIATE_TEST_SUITE_P(
    Durations, SampleCount,
    ::testing::Values(CountCase{0.07, 351},  // 350.00000000000006 rounds up
                      CountCase{0.01, 50}, CountCase{60.0, 300000}, CountCase{1800.0, 9000000},
                      CountCase{0.0002, 1}, CountCase{1e-300, 1},
                      CountCase{3.6893488147419103e15, U64_MAX},  // 2^64 samples
                      CountCase{1e300, U64_MAX},
                      CountCase{std::numeric_limits<double>::infinity(), U64_MAX}),
    [](const auto& info) { return "duration_" + param_name::number(info.param.duration); });

struct QuantiseCase {
    double normalised;
    std::int16_t stored;
};

void PrintTo(const QuantiseCase& c, std::ostream* os) {
    *os << c.normalised;
}

class Quantise : public ::testing::TestWithParam<QuantiseCase> {};

TEST_P(Quantise, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(quantise_sample(GetParam().normalised), GetParam().stored) << GetParam().normalised;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Quantise,
    ::testing::Values(QuantiseCase{0.0, 0}, QuantiseCase{1.0, 32767}, QuantiseCase{0.5, 16384},
                      QuantiseCase{0.25, 8192}, QuantiseCase{0.75, 24575}, QuantiseCase{0.1, 3277},
                      QuantiseCase{1e-05, 0}, QuantiseCase{0.5 / 32767.0, 1}, QuantiseCase{-0.0, 0},
                      // Outside the range callers allow: saturation, not overflow.
                      QuantiseCase{2.0, 32767}, QuantiseCase{-2.0, -32768},
                      QuantiseCase{std::nan(""), 0}),
    [](const auto& info) { return "value_" + param_name::number(info.param.normalised); });

// Growing a list of signals moves each one (as bytes, under libc++): every
// signal comes through whole, and each arbitrary signal keeps its own buffer.
TEST(SignalList, GrowingKeepsEverySignalAndItsSamplesBuffer) {
    std::vector<Signal> signals;
    std::vector<const std::int16_t*> buffers;
    for (int i = 0; i < 1000; ++i) {
        if (i % 2 == 0) {
            Samples samples(3, static_cast<std::int16_t>(i));
            buffers.push_back(samples.data());
            signals.emplace_back(ArbitrarySignalParams{std::move(samples)});
        } else {
            signals.emplace_back(ConstantSignalParams{i * 0.5});
        }
    }
    for (int i = 0; i < 1000; ++i) {
        const Signal& signal = signals[static_cast<std::size_t>(i)];
        if (i % 2 == 0) {
            const auto& samples = std::get<ArbitrarySignalParams>(signal).samples;
            ASSERT_EQ(samples, Samples(3, static_cast<std::int16_t>(i))) << i;
            ASSERT_EQ(samples.data(), buffers[static_cast<std::size_t>(i / 2)]) << i;
        } else {
            ASSERT_EQ(std::get<ConstantSignalParams>(signal).value, i * 0.5) << i;
        }
    }
}

}  // namespace
}  // namespace protocols
