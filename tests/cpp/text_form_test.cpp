#include "protocols/text_form.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <regex>
#include <string>

#include "param_name.hpp"

namespace protocols {
namespace {

using namespace std::string_literals;

constexpr double INF = std::numeric_limits<double>::infinity();

std::string float_text(double value) {
    std::string out;
    write_float(out, value);
    return out;
}

// ---------------------------------------------------------------------------
// Float layout, grouped by the fault each group hunts.

struct FloatCase {
    double value;
    const char* text;
};

void PrintTo(const FloatCase& c, std::ostream* os) {
    *os << c.text;
}

std::string float_case_name(const ::testing::TestParamInfo<FloatCase>& info) {
    return "value_" + param_name::number(info.param.value);
}

class FloatText : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatText, IsLaidOut) {
    EXPECT_EQ(float_text(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Specials, FloatText,
                         ::testing::Values(FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"},
                                           FloatCase{std::nan(""), "NaN"},
                                           FloatCase{-std::nan(""), "NaN"}, FloatCase{INF, "inf"},
                                           FloatCase{-INF, "-inf"}),
                         float_case_name);

INSTANTIATE_TEST_SUITE_P(
    PlainOrExponentSwitch, FloatText,
    ::testing::Values(FloatCase{1e-5, "1e-5"}, FloatCase{2.5e-5, "2.5e-5"},
                      FloatCase{-2.5e-5, "-2.5e-5"}, FloatCase{0.0001, "0.0001"},
                      FloatCase{9.999999999999999e-5, "9.999999999999999e-5"},
                      FloatCase{0.00012345, "0.00012345"}, FloatCase{1e15, "1000000000000000.0"},
                      FloatCase{9999999999999998.0, "9999999999999998.0"}, FloatCase{1e16, "1e16"},
                      FloatCase{-1.5e16, "-1.5e16"}, FloatCase{1e21, "1e21"},
                      FloatCase{1.2345e100, "1.2345e100"}),
    float_case_name);

INSTANTIATE_TEST_SUITE_P(PlainDigits, FloatText,
                         ::testing::Values(FloatCase{0.1, "0.1"}, FloatCase{0.3, "0.3"},
                                           FloatCase{60.0, "60.0"}, FloatCase{-1.5, "-1.5"},
                                           FloatCase{123456.789, "123456.789"},
                                           FloatCase{22.624434389140273, "22.624434389140273"},
                                           FloatCase{0.1 + 0.2, "0.30000000000000004"}),
                         float_case_name);

INSTANTIATE_TEST_SUITE_P(
    Extremes, FloatText,
    ::testing::Values(FloatCase{5e-324, "5e-324"}, FloatCase{-5e-324, "-5e-324"},
                      FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
                      FloatCase{2.225073858507201e-308, "2.225073858507201e-308"},  // subnormal
                      FloatCase{1.7976931348623157e308, "1.7976931348623157e308"},
                      FloatCase{-1.7976931348623157e308, "-1.7976931348623157e308"}),
    float_case_name);

TEST(FloatText, RoundTripsInTheRightFormForRandomValues) {
    const std::regex exponent_form(R"(-?[1-9](\.[0-9]*[1-9])?e-?[1-9][0-9]*)");
    const std::regex plain_form(R"(-?(0|[1-9][0-9]*)\.([0-9]*[1-9]|0))");
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 6000; ++i) {
        // Odd rounds: any bit pattern. Even rounds: magnitudes 2^-14 to 2^53,
        // around and inside the plain range.
        const double value =
            i % 2 ? std::bit_cast<double>(rng())
                  : std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 68) - 67);
        if (std::isnan(value) || value == 0.0) continue;
        const std::string text = float_text(value);
        char* end = nullptr;
        const double back = std::strtod(text.c_str(), &end);
        ASSERT_EQ(end, text.c_str() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
        const double magnitude = std::fabs(value);
        const bool exponent = magnitude >= 1e16 || magnitude < 1e-4;
        ASSERT_TRUE(std::regex_match(text, exponent ? exponent_form : plain_form)) << text;
    }
}

// ---------------------------------------------------------------------------
// Layout of records, lists, variants and scalars.

struct LayoutCase {
    const char* name;
    std::string text;
    std::string expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, IsExact) {
    EXPECT_EQ(GetParam().text, GetParam().expected);
}

const LayoutCase LAYOUT_CASES[] = {
    {"SelectionExternal7", text_form(SignalSourceSelection{0, 7, true}),
     "SignalSourceSelection {\n"
     "    internal: 0,\n"
     "    external: 7,\n"
     "    external_selected: true,\n"
     "}"},
    {"ConstantVariant", text_form(Signal{ConstantSignalParams{0.5}}),
     "Constant(\n"
     "    ConstantSignalParams {\n"
     "        value: 0.5,\n"
     "    },\n"
     ")"},
    {"MixedSignalIndexes", text_form(Signal{MixedSignalParams{0, 18446744073709551615u}}),
     "MixedSignal(\n"
     "    MixedSignalParams {\n"
     "        a_idx: 0,\n"
     "        b_idx: 18446744073709551615,\n"
     "    },\n"
     ")"},
    // Every escape: the short ones, C0, DEL, C1, a bidirectional override, a
    // paragraph separator; a letter and U+10FFFF copied; a stray byte replaced.
    {"EmptyCoilSettingsAndEscapedName",
     text_form(Coil("a\"b\\c\nd\te\rf\x01g\x1bh\x7f\xC3\xA4\0i\xC2\x9B"
                    "j\xE2\x80\xAEk\xE2\x80\xA9\xF4\x8F\xBF\xBF\xFF"s,
                    -0.0, INF, 1e-5, {})),
     "Coil {\n"
     "    name: \"a\\\"b\\\\c\\nd\\te\\rf\\u{1}g\\u{1b}h\\u{7f}\xC3\xA4\\0i\\u{9b}j\\u{202e}k"
     "\\u{2029}\xF4\x8F\xBF\xBF\xEF\xBF\xBD\",\n"
     "    inductance: -0.0,\n"
     "    max_current: inf,\n"
     "    max_carrier_frequency: 1e-5,\n"
     "    settings: [],\n"
     "}"},
    {"DefaultCoil", text_form(Coil()),
     "Coil {\n"
     "    name: \"Default\",\n"
     "    inductance: 150.0,\n"
     "    max_current: 0.1,\n"
     "    max_carrier_frequency: 40.0,\n"
     "    settings: [\n"
     "        LCSetting {\n"
     "            capacitance: 330.0,\n"
     "            carrier_frequency: 22.624434389140273,\n"
     "            clk_ticks_per_sample: 221,\n"
     "            capacitor_bank_setting: 1,\n"
     "        },\n"
     "    ],\n"
     "}"},
    {"ErrorIsBareName", text_form(VESKError::ConfigError), "ConfigError"},
    {"EmptySamples", text_form(ArbitrarySignalParams{}),
     "ArbitrarySignalParams {\n    samples: [],\n}"},
};

INSTANTIATE_TEST_SUITE_P(Records, Layout, ::testing::ValuesIn(LAYOUT_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// The sample list has its own fast writer; it must match the general list
// layout at every depth (shallow and deep indentation take different paths).
TEST(SampleList, MatchesTheListLayoutAtEveryLevel) {
    const ArbitrarySignalParams params{{0, 7, 10, 99, 100, 9999, 10000, 32767, -1, -32768, 12345}};
    for (unsigned level = 0; level < 20; ++level) {
        const std::string outer(4 * level, ' ');
        std::string expected = "ArbitrarySignalParams {\n" + outer + "    samples: [\n";
        for (const std::int16_t s : params.samples) {
            expected += outer + "        " + std::to_string(s) + ",\n";
        }
        expected += outer + "    ],\n" + outer + "}";
        std::string out = "prefix ";
        write_text(out, params, level);
        EXPECT_EQ(out, "prefix " + expected) << "level " << level;
    }
}

TEST(SampleList, OneLinePerSampleInAProtocol) {
    unsetenv("VESK_TARGET_MACHINE");
    Protocol protocol;
    protocol.settings.signals = {ArbitrarySignalParams{Samples(300000, 16384)}};
    const std::string text = text_form(protocol);
    EXPECT_EQ(text.rfind("Protocol {\n    settings: Settings {\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 9), "\n    },\n}");
    const std::string line = "\n                        16384,";
    std::size_t lines = 0;
    for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++lines;
    EXPECT_EQ(lines, 300000u);
}

}  // namespace
}  // namespace protocols
