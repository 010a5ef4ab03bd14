#include "protocols/sample_import.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "param_name.hpp"
#include "protocols/signals.hpp"

namespace protocols {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Long enough for several whole blocks of the fast pass plus a tail.
constexpr std::size_t kLength = 3 * 512 + 77;

SampleFault import(const std::vector<double>& values, std::vector<std::int16_t>& out) {
    out.assign(values.size(), -1);
    return import_samples(reinterpret_cast<const std::byte*>(values.data()), sizeof(double),
                          values.size(), out.data());
}

// The stored value by its definition: round(x * 32767), halves away from zero.
std::int16_t reference(double x) {
    return static_cast<std::int16_t>(std::lround(x * 32767.0));
}

std::vector<std::int16_t> references(const std::vector<double>& values) {
    std::vector<std::int16_t> expected;
    for (const double x : values) expected.push_back(reference(x));
    return expected;
}

struct QuantiseCase {
    double normalised;
    std::int16_t stored;
};

void PrintTo(const QuantiseCase& c, std::ostream* os) {
    *os << c.normalised;
}

class ImportQuantise : public ::testing::TestWithParam<QuantiseCase> {};

// Each value at every position of whole blocks and the tail.
TEST_P(ImportQuantise, StoresRoundedValueEverywhere) {
    const std::vector<double> values(kLength, GetParam().normalised);
    std::vector<std::int16_t> out;
    ASSERT_EQ(import(values, out), SampleFault::None);
    EXPECT_EQ(out, std::vector<std::int16_t>(kLength, GetParam().stored));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImportQuantise,
    ::testing::Values(QuantiseCase{0.0, 0}, QuantiseCase{1.0, 32767}, QuantiseCase{0.5, 16384},
                      QuantiseCase{0.25, 8192}, QuantiseCase{0.75, 24575}, QuantiseCase{0.1, 3277},
                      QuantiseCase{1e-05, 0}, QuantiseCase{0.5 / 32767.0, 1}, QuantiseCase{-0.0, 0},
                      QuantiseCase{std::numeric_limits<double>::denorm_min(), 0}),
    [](const auto& info) { return "value_" + param_name::number(info.param.normalised); });

struct FaultCase {
    double value;
    SampleFault fault;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.value;
}

class ImportFault : public ::testing::TestWithParam<FaultCase> {};

// One offender among valid samples, at block edges, inside blocks and in the tail.
TEST_P(ImportFault, IsFoundWherever) {
    for (const std::size_t at :
         {std::size_t{0}, std::size_t{1}, std::size_t{511}, std::size_t{512}, std::size_t{1000},
          std::size_t{1535}, std::size_t{1536}, kLength - 1}) {
        std::vector<double> values(kLength, 0.5);
        values[at] = GetParam().value;
        std::vector<std::int16_t> out;
        EXPECT_EQ(import(values, out), GetParam().fault) << "at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offenders, ImportFault,
    ::testing::Values(FaultCase{-0.5, SampleFault::BelowZero},
                      FaultCase{kNaN, SampleFault::BelowZero},
                      FaultCase{-kNaN, SampleFault::BelowZero},
                      FaultCase{-kInf, SampleFault::BelowZero},
                      FaultCase{-std::numeric_limits<double>::denorm_min(), SampleFault::BelowZero},
                      FaultCase{-1e-300, SampleFault::BelowZero},
                      FaultCase{2.0, SampleFault::AboveOne}, FaultCase{kInf, SampleFault::AboveOne},
                      FaultCase{std::nextafter(1.0, 2.0), SampleFault::AboveOne},
                      FaultCase{1e300, SampleFault::AboveOne}),
    [](const auto& info) { return "value_" + param_name::number(info.param.value); });

struct PairCase {
    std::size_t first_at;
    double first;
    std::size_t second_at;
    double second;
    SampleFault fault;
};

void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.first << " at " << c.first_at << ", " << c.second << " at " << c.second_at;
}

class ImportFirstOffender : public ::testing::TestWithParam<PairCase> {};

TEST_P(ImportFirstOffender, DecidesTheFault) {
    const PairCase& c = GetParam();
    std::vector<double> values(kLength, 1.0);
    values[c.first_at] = c.first;
    values[c.second_at] = c.second;
    std::vector<std::int16_t> out;
    EXPECT_EQ(import(values, out), c.fault);
}

INSTANTIATE_TEST_SUITE_P(Order, ImportFirstOffender,
                         ::testing::Values(PairCase{0, -0.5, 1, 2.0, SampleFault::BelowZero},
                                           PairCase{0, 2.0, 1, -0.5, SampleFault::AboveOne},
                                           PairCase{700, 2.0, 701, kNaN, SampleFault::AboveOne},
                                           PairCase{700, kNaN, 1023, 2.0, SampleFault::BelowZero},
                                           // In different blocks, and from a block into the tail.
                                           PairCase{511, kInf, 512, -1.0, SampleFault::AboveOne},
                                           PairCase{100, -1.0, 1200, kInf, SampleFault::BelowZero},
                                           PairCase{1535, 3.0, 1536, -3.0, SampleFault::AboveOne},
                                           PairCase{1540, -3.0, 1541, 3.0, SampleFault::BelowZero}),
                         [](const auto& info) {
                             const PairCase& c = info.param;
                             return "at" + param_name::number(c.first_at) + "_" +
                                    param_name::number(c.first) + "_at" +
                                    param_name::number(c.second_at) + "_" +
                                    param_name::number(c.second);
                         });

// The fast pass and the exact pass must agree: a block with a fault stops the
// import even when the values around the offender are all fine.
TEST(ImportSamples, FaultInOtherwiseValidBlockAfterValidBlocks) {
    std::vector<double> values(4 * 512, 0.25);
    values[3 * 512 + 17] = kNaN;
    std::vector<std::int16_t> out;
    EXPECT_EQ(import(values, out), SampleFault::BelowZero);
    EXPECT_EQ(out[0], 8192);
}

TEST(ImportSamples, EmptyInputIsAccepted) {
    EXPECT_EQ(import_samples(nullptr, 8, 0, nullptr), SampleFault::None);
}

std::vector<double> random_unit_values(std::size_t count, unsigned seed) {
    std::mt19937_64 engine(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> values(count);
    for (double& x : values) x = unit(engine);
    return values;
}

struct StrideCase {
    std::ptrdiff_t step;   // in elements of the backing array; may be 0 or negative
    std::size_t misalign;  // bytes by which the backing data is shifted
};

void PrintTo(const StrideCase& c, std::ostream* os) {
    *os << "step " << c.step << ", misaligned by " << c.misalign;
}

class ImportStrided : public ::testing::TestWithParam<StrideCase> {};

// Reads element i at data + i * stride, in index order, aligned or not.
TEST_P(ImportStrided, ReadsInIndexOrder) {
    const auto [step, misalign] = GetParam();
    const std::size_t span = std::max<std::size_t>(1, std::abs(step)) * kLength;
    const std::vector<double> backing = random_unit_values(span, 7);
    std::vector<std::byte> bytes(span * sizeof(double) + misalign);
    std::memcpy(bytes.data() + misalign, backing.data(), span * sizeof(double));

    const std::size_t first = step < 0 ? span - 1 : 0;
    std::vector<double> expected_values;
    for (std::size_t i = 0; i < kLength; ++i) {
        expected_values.push_back(backing[first + static_cast<std::ptrdiff_t>(i) * step]);
    }
    std::vector<std::int16_t> out(kLength, -1);
    const std::ptrdiff_t stride = step * static_cast<std::ptrdiff_t>(sizeof(double));
    ASSERT_EQ(import_samples(bytes.data() + misalign + first * sizeof(double), stride, kLength,
                             out.data()),
              SampleFault::None);
    EXPECT_EQ(out, references(expected_values));
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImportStrided,
                         ::testing::Values(StrideCase{1, 0}, StrideCase{1, 1}, StrideCase{1, 4},
                                           StrideCase{2, 0}, StrideCase{3, 3}, StrideCase{-1, 0},
                                           StrideCase{-2, 5}, StrideCase{0, 0}, StrideCase{0, 2}),
                         [](const auto& info) {
                             return "step" +
                                    param_name::number(static_cast<double>(info.param.step)) +
                                    "_misalign" + param_name::number(info.param.misalign);
                         });

TEST(ImportSamples, StridedOffenderIsFoundInIndexOrder) {
    std::vector<double> backing(2 * kLength, 0.5);
    backing[2 * 600] = 1.5;       // element 600 of the every-second view
    backing[2 * 600 + 1] = -1.0;  // skipped by the view
    backing[2 * 900] = -1.0;      // a later offender
    std::vector<std::int16_t> out(kLength);
    EXPECT_EQ(
        import_samples(reinterpret_cast<const std::byte*>(backing.data()), 16, kLength, out.data()),
        SampleFault::AboveOne);
    // Reversed, the element at 900 comes first.
    EXPECT_EQ(import_samples(reinterpret_cast<const std::byte*>(&backing[2 * kLength - 2]), -16,
                             kLength, out.data()),
              SampleFault::BelowZero);
}

TEST(ImportSamples, BroadcastOffender) {
    const double value = kNaN;
    std::vector<std::int16_t> out(kLength);
    EXPECT_EQ(import_samples(reinterpret_cast<const std::byte*>(&value), 0, kLength, out.data()),
              SampleFault::BelowZero);
}

// Random values over [0, 1], and the values nearest each rounding boundary
// (k + 0.5) / 32767, against round() itself.
TEST(ImportSamples, MatchesRoundEverywhere) {
    std::vector<double> values = random_unit_values(1 << 21, 11);
    for (int k = 0; k < 32767; ++k) {
        const double boundary = (k + 0.5) / 32767.0;
        double below = boundary;
        double above = boundary;
        for (int ulps = 0; ulps < 3; ++ulps) {
            values.insert(values.end(), {below, above});
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1.0);
        }
    }
    std::vector<std::int16_t> out;
    ASSERT_EQ(import(values, out), SampleFault::None);
    const std::vector<std::int16_t> expected = references(values);
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(out[i], expected[i]) << "x = " << values[i];
        ASSERT_EQ(out[i], quantise_sample(values[i])) << "x = " << values[i];
    }
}

}  // namespace
}  // namespace protocols
