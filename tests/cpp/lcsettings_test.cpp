#include "protocols/lcsettings.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "param_name.hpp"
#include "protocols/log.hpp"
#include "protocols/text_form.hpp"

namespace protocols {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

Result<Coil> tune(std::vector<double> capacitances, double max_carrier_frequency = 40.0,
                  double inductance = 150.0) {
    return Coil::new_("Test", capacitances, inductance, 0.1, max_carrier_frequency);
}

// ---------------------------------------------------------------------------
// One capacitance at a time: the tick count and the exact carrier frequency.

struct TuningRow {
    double capacitance;
    std::uint64_t ticks;
    double carrier_frequency;
    bool kept;
};

void PrintTo(const TuningRow& row, std::ostream* os) {
    *os << row.capacitance;
}

class TuningTable : public ::testing::TestWithParam<TuningRow> {};

TEST_P(TuningTable, GivesTicksAndCarrierFrequency) {
    const TuningRow& row = GetParam();
    // An infinite maximum keeps every row, so dropped rows are checked too.
    const Result<Coil> all = tune({row.capacitance}, INF);
    ASSERT_TRUE(all);
    ASSERT_EQ(all.value().settings.size(), 1u);
    EXPECT_EQ(all.value().settings[0],
              (LCSetting{row.capacitance, row.carrier_frequency, row.ticks, 1}));

    const Result<Coil> bounded = tune({row.capacitance});
    ASSERT_EQ(bounded.has_value(), row.kept);
    if (row.kept) {
        EXPECT_EQ(bounded.value().settings, all.value().settings);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inductance150Max40, TuningTable,
    ::testing::Values(TuningRow{47.0, 83, 60.24096385542169, false},
                      TuningRow{68.0, 100, 50.0, false},
                      TuningRow{100.0, 122, 40.983606557377044, false},
                      TuningRow{105.5, 125, 40.0, true},  // equal to the maximum
                      TuningRow{150.0, 149, 33.557046979865774, true},
                      TuningRow{220.0, 180, 27.77777777777778, true},
                      TuningRow{330.0, 221, 22.624434389140273, true},
                      TuningRow{470.0, 264, 18.93939393939394, true},
                      TuningRow{680.0, 317, 15.772870662460567, true},
                      TuningRow{1000.0, 385, 12.987012987012989, true}),
    [](const auto& info) { return "capacitance_" + param_name::number(info.param.capacitance); });

// ---------------------------------------------------------------------------
// Order of the kept settings, and what is stored besides them.

TEST(Tuning, LargestTickCountFirstAndDroppedCapacitancesLeaveNoTrace) {
    const Result<Coil> coil =
        Coil::new_("Mixed", std::vector{100.0, 220.0, 330.0, 47.0}, 150.0, 0.7, 40.0);
    ASSERT_TRUE(coil);
    EXPECT_EQ(coil.value().name, "Mixed");
    EXPECT_EQ(coil.value().inductance, 150.0);
    EXPECT_EQ(coil.value().max_current, 0.7);
    EXPECT_EQ(coil.value().max_carrier_frequency, 40.0);
    EXPECT_EQ(coil.value().settings, (std::vector<LCSetting>{
                                         {330.0, 22.624434389140273, 221, 3},
                                         {220.0, 27.77777777777778, 180, 2},
                                     }));
}

TEST(Tuning, EqualTickCountsPutTheLaterBankSettingFirst) {
    const Result<Coil> coil = tune({330.0, 150.0, 330.0});
    ASSERT_TRUE(coil);
    std::vector<std::uint64_t> banks;
    for (const LCSetting& s : coil.value().settings) banks.push_back(s.capacitor_bank_setting);
    EXPECT_EQ(banks, (std::vector<std::uint64_t>{3, 1, 2}));
}

TEST(Tuning, UnusableCapacitancesGiveZeroTicksAndInfiniteFrequency) {
    const Result<Coil> coil = tune({0.0, -5.0, std::nan("")}, INF);
    ASSERT_TRUE(coil);
    ASSERT_EQ(coil.value().settings.size(), 3u);
    for (const LCSetting& s : coil.value().settings) {
        EXPECT_EQ(s.clk_ticks_per_sample, 0u);
        EXPECT_EQ(s.carrier_frequency, INF);
    }
    EXPECT_NE(text_form(coil.value()).find("\n            carrier_frequency: inf,\n"),
              std::string::npos);
}

TEST(Tuning, HugeTickCountsSaturateAndWrapWhenScaled) {
    // ticks saturate at 2^64 - 1; times 32 modulo 2^64 is 2^64 - 32, which
    // as a double is 2^64.
    const Result<Coil> coil = tune({1e300}, 40.0, 1e300);
    ASSERT_TRUE(coil);
    EXPECT_EQ(coil.value().settings[0].clk_ticks_per_sample,
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(coil.value().settings[0].carrier_frequency, 160000000.0 / 0x1p64 * 0.001);
}

// ---------------------------------------------------------------------------
// Failure: ConfigError and one error report.

struct Report {
    log::Level level;
    std::string target;
    std::string message;
};
std::vector<Report> reports;

void record_report(log::Level level, std::string_view target, std::string_view message) {
    reports.push_back({level, std::string(target), std::string(message)});
}

struct FailureCase {
    const char* name;
    std::vector<double> capacitances;
    double max_carrier_frequency;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class TuningFailure : public ::testing::TestWithParam<FailureCase> {
protected:
    void SetUp() override {
        reports.clear();
        log::set_sink(record_report);
    }
    void TearDown() override { log::set_sink(nullptr); }
};

TEST_P(TuningFailure, IsConfigErrorWithAnErrorReport) {
    const FailureCase& c = GetParam();
    const Result<Coil> coil =
        Coil::new_("Coil \"7\"", c.capacitances, 150.0, 0.1, c.max_carrier_frequency);
    ASSERT_FALSE(coil);
    EXPECT_EQ(coil.error(), VESKError::ConfigError);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].level, log::Level::Error);
    EXPECT_EQ(reports[0].target, "protocols::lcsettings");
    EXPECT_EQ(reports[0].message,
              "No valid carrier frequency can be calculated for coil Coil \"7\"");
}

INSTANTIATE_TEST_SUITE_P(
    NothingKept, TuningFailure,
    ::testing::Values(FailureCase{"EmptyList", {}, 40.0},
                      FailureCase{"AllAboveMaximum", {47.0, 68.0, 100.0}, 40.0},
                      FailureCase{"NanMaximum", {330.0, 1000.0}, std::nan("")},
                      FailureCase{"ZeroCapacitanceFiniteMaximum", {0.0}, 1e300}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TuningLog, SuccessReportsNothingAndARemovedSinkHearsNothing) {
    reports.clear();
    log::set_sink(record_report);
    EXPECT_TRUE(tune({330.0}));
    log::set_sink(nullptr);
    EXPECT_FALSE(tune({}));
    EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace protocols
