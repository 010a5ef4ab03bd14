#include "protocols/settings.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "protocols/config.hpp"
#include "protocols/text_form.hpp"

namespace protocols {
namespace {

constexpr const char* VARIABLE = "VESK_TARGET_MACHINE";

// Leaves the variable unset after each test, whatever the test did.
class TargetMachineVariable : public ::testing::Test {
protected:
    void SetUp() override { unsetenv(VARIABLE); }
    void TearDown() override { unsetenv(VARIABLE); }
};

struct VariableCase {
    const char* name;
    std::optional<std::string> value;  // nullopt: unset
    bool running_on_target_machine;
};

void PrintTo(const VariableCase& c, std::ostream* os) {
    *os << c.name;
}

class TargetMachineFlag : public TargetMachineVariable,
                          public ::testing::WithParamInterface<VariableCase> {};

// A member found by its pointer gives its declared name, also where two
// members of one type sit side by side.
static_assert(protocols::field_name<&protocols::ChannelSettings::amplitude2_source>() ==
              "amplitude2_source");
static_assert(protocols::field_name<&protocols::ChannelSettings::coil_setting_idx>() ==
              "coil_setting_idx");
static_assert(protocols::field_name<&protocols::Settings::channel_b_settings>() ==
              "channel_b_settings");

TEST_P(TargetMachineFlag, FollowsPresenceAndUtf8Validity) {
    const VariableCase& c = GetParam();
    if (c.value) setenv(VARIABLE, c.value->c_str(), 1);
    EXPECT_EQ(read_running_on_target_machine(), c.running_on_target_machine);
    EXPECT_EQ(Settings().running_on_target_machine, c.running_on_target_machine);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TargetMachineFlag,
    ::testing::Values(VariableCase{"Unset", std::nullopt, false}, VariableCase{"Empty", "", true},
                      VariableCase{"Zero", "0", true}, VariableCase{"False", "false", true},
                      VariableCase{"NonAscii", "caf\xC3\xA9 \xF0\x9F\x99\x82", true},
                      VariableCase{"InvalidBytes", "\xFF\xFE", false},
                      VariableCase{"TruncatedSequence", "ab\xC3", false},
                      VariableCase{"Overlong", "\xC0\xAF", false},
                      VariableCase{"Surrogate", "\xED\xA0\x80", false},
                      VariableCase{"HighestPlane", "\xF4\x80\x80\x80 \xF4\x8F\xBF\xBF", true},
                      VariableCase{"AboveUnicode", "\xF4\x90\x80\x80", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TargetMachineVariable, IsReadAtEachConstruction) {
    const Settings before;
    setenv(VARIABLE, "1", 1);
    const Settings after;
    EXPECT_FALSE(before.running_on_target_machine);
    EXPECT_TRUE(after.running_on_target_machine);
}

// ---------------------------------------------------------------------------
// The default record through its text form.

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(TargetMachineVariable, DefaultTextFormHas108Lines) {
    const std::vector<std::string> lines = lines_of(text_form(Settings()));
    ASSERT_EQ(lines.size(), 108u);
    const std::vector<std::string> start = {
        "Settings {",
        "    running_on_target_machine: false,",
        "    machine_config: MachineConfig {",
        "        supply_voltage: 80.0,",
        "        num_coils: 2,",
        "        coils: [",
        "            Coil {",
        "                name: \"Default\",",
    };
    EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 8), start);
    const std::vector<std::string> after_machine = {
        "    intensity: 0.0,",
        "    session_duration: 60.0,",
        "    signals: [",
        "        Constant(",
        "            ConstantSignalParams {",
        "                value: 0.0,",
        "            },",
        "        ),",
        "    ],",
        "    channel_a_settings: ChannelSettings {",
        "        enabled: true,",
        "        amplitude1_source: SignalSourceSelection {",
        "            internal: 0,",
        "            external: 0,",
        "            external_selected: false,",
        "        },",
    };
    EXPECT_EQ(std::vector(lines.begin() + 39, lines.begin() + 55), after_machine);
    EXPECT_EQ(lines[38], "    },");
    // The end: 16 flags, the factor, the closing brace.
    const std::size_t flags = lines.size() - 19;
    EXPECT_EQ(lines[flags - 1], "    monitor_trace_visible: [");
    for (std::size_t i = flags; i < flags + 16; ++i) EXPECT_EQ(lines[i], "        false,") << i;
    EXPECT_EQ(lines[flags + 16], "    ],");
    EXPECT_EQ(lines[flags + 17], "    monitor_subsampling_factor: 1,");
    EXPECT_EQ(lines[flags + 18], "}");
}

TEST_F(TargetMachineVariable, EmptiedSignalListIsOneLineOf102) {
    Settings settings;
    settings.signals.clear();
    const std::string text = text_form(settings);
    EXPECT_EQ(lines_of(text).size(), 102u);
    EXPECT_NE(text.find("\n    session_duration: 60.0,\n    signals: [],\n    channel_a_settings"),
              std::string::npos);
    EXPECT_EQ(text.back(), '}');
}

TEST_F(TargetMachineVariable, TwoDefaultRecordsAreEqual) {
    EXPECT_EQ(Settings(), Settings());
}

// A limit's text is declared beside its value; the two must say the same.
TEST(Limits, TextsWriteTheValuesChecked) {
    const auto float_text = [](double value) {
        std::string text;
        write_float(text, value);
        return text;
    };
    for (const config::Range<double>& range : {config::INTENSITY, config::SESSION_DURATION}) {
        EXPECT_EQ(range.low_text, float_text(range.low));
        EXPECT_EQ(range.high_text, float_text(range.high));
    }
    EXPECT_EQ(config::STORED_CODE.low_text, std::to_string(config::STORED_CODE.low));
    EXPECT_EQ(config::STORED_CODE.high_text, std::to_string(config::STORED_CODE.high));
    EXPECT_EQ(config::STORED_CODE.high, config::SAMPLE_SCALE);
}

}  // namespace
}  // namespace protocols
