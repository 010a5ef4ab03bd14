#include "protocols/encoder.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <string>

#include "param_name.hpp"

namespace protocols {
namespace {

// "01 | C8 01" -> {0x01, 0xC8, 0x01}: pairs of hex digits, anything else separates.
Bytes hex_bytes(std::string_view hex) {
    Bytes out;
    for (const char* p = hex.data(); p < hex.data() + hex.size();) {
        if (std::from_chars(p, p + 2, out.emplace_back(), 16).ptr == p + 2) {
            p += 2;
        } else {
            out.pop_back();
            ++p;
        }
    }
    return out;
}

template <typename T>
Bytes encoded(const T& value) {
    Bytes out;
    serialize(value, out);
    return out;
}

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

// ---------------------------------------------------------------------------
// Varints, through an unsigned field followed by a zero varint.

struct VarintCase {
    std::uint64_t value;
    const char* hex;
};

void PrintTo(const VarintCase& c, std::ostream* os) {
    *os << c.value;
}

class Varint : public ::testing::TestWithParam<VarintCase> {};

TEST_P(Varint, IsShortestLeb128) {
    const VarintCase& c = GetParam();
    Bytes expected = hex_bytes(c.hex);
    expected.push_back(0x00);  // b_idx
    EXPECT_EQ(encoded(MixedSignalParams{c.value, 0}), expected) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    GoldenTable, Varint,
    ::testing::Values(VarintCase{0, "00"}, VarintCase{1, "01"}, VarintCase{127, "7F"},
                      VarintCase{128, "80 01"}, VarintCase{300, "AC 02"},
                      VarintCase{16383, "FF 7F"}, VarintCase{16384, "80 80 01"},
                      VarintCase{std::uint64_t{1} << 63, "80 80 80 80 80 80 80 80 80 01"},
                      VarintCase{U64_MAX, "FF FF FF FF FF FF FF FF FF 01"}),
    [](const auto& info) { return "value_" + param_name::number(info.param.value); });

TEST(VarintLength, GrowsByOneByteAtEverySevenBitBoundary) {
    for (unsigned groups = 1; groups <= 9; ++groups) {
        const std::uint64_t boundary = std::uint64_t{1} << (7 * groups);
        EXPECT_EQ(encoded(MixedSignalParams{boundary - 1, 0}).size(), groups + 1) << groups;
        EXPECT_EQ(encoded(MixedSignalParams{boundary, 0}).size(), groups + 2) << groups;
    }
}

// ---------------------------------------------------------------------------
// Worked examples and edge cases, each a record and its exact bytes.

struct GoldenCase {
    const char* name;
    Bytes actual;
    std::string expected_hex;
};

void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, EncodesToExactBytes) {
    EXPECT_EQ(GetParam().actual, hex_bytes(GetParam().expected_hex));
}

std::string repeated(const char* hex, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) (out += hex) += ' ';
    return out;
}

Bytes slice(const Bytes& bytes, std::size_t begin, std::size_t end) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

Bytes samples(std::size_t count) {
    return encoded(ArbitrarySignalParams{Samples(count, 0)});
}

Bytes constant(double value) {
    return encoded(Signal{ConstantSignalParams{value}});
}

Bytes empty_coil(std::string name, std::size_t settings = 0) {
    return encoded(Coil(std::move(name), 0.0, 0.0, 0.0, std::vector<LCSetting>(settings)));
}

const GoldenCase GOLDEN_CASES[] = {
    {"Sine", encoded(Signal{SineSignalParams{1.0, 10.0, 0.0, 0.5}}),
     "01 00 00 00 00 00 00 F0 3F 00 00 00 00 00 00 24 40 00 00 00 00 00 00 00 00"
     " 00 00 00 00 00 00 E0 3F"},
    {"Constant", constant(-0.25), "00 00 00 00 00 00 00 D0 BF"},
    {"Ramp", encoded(Signal{RampSignalParams{1.0, 2.0, 0.5}}),
     "02 00 00 00 00 00 00 F0 3F 00 00 00 00 00 00 00 40 00 00 00 00 00 00 E0 3F"},
    {"Mixed", encoded(Signal{MixedSignalParams{0, 130}}), "03 00 82 01"},
    {"Arbitrary", encoded(Signal{ArbitrarySignalParams{{0, -1, 1, 300, -32768, 32767}}}),
     "04 06 00 01 02 D8 04 FF FF 03 FE FF 03"},
    {"ArbitraryEmpty", encoded(Signal{ArbitrarySignalParams{}}), "04 00"},
    {"ChannelSettings",
     encoded(ChannelSettings{true, {0, 0, false}, {1, 0, false}, {2, 1, true}, 1, 200}),
     "01 | 00 00 00 | 01 00 00 | 02 01 01 | 01 | C8 01"},
    {"FiveThousand", constant(5000.0), "00 00 00 00 00 00 88 B3 40"},
    {"NegativeZero", constant(-0.0), "00 00 00 00 00 00 00 00 80"},
    {"Infinity", constant(std::numeric_limits<double>::infinity()), "00 00 00 00 00 00 00 F0 7F"},
    {"NanPayload", constant(std::bit_cast<double>(std::uint64_t{0xFFF4000000000123})),
     "00 23 01 00 00 00 00 F4 FF"},
    {"EmptyCoil", empty_coil(""), "00" + repeated("00", 24) + "00"},
    // "Spule-ä€": 6 ASCII letters, a 2-byte and a 3-byte character.
    {"NonAsciiNameCountsBytes", slice(empty_coil("Spule-\xC3\xA4\xE2\x82\xAC"), 0, 12),
     "0B 53 70 75 6C 65 2D C3 A4 E2 82 AC"},
    {"SampleCount128", samples(128), "80 01 " + repeated("00", 128)},
    {"SampleCount16384", samples(16384), "80 80 01 " + repeated("00", 16384)},
    {"ListCount128", slice(empty_coil("", 128), 25, 27), "80 01"},
};

INSTANTIATE_TEST_SUITE_P(WorkedExamples, Golden, ::testing::ValuesIn(GOLDEN_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Every sample value, read back with an independent LEB128 and zigzag reader.

TEST(Samples, EveryValueRoundTripsInShortestForm) {
    ArbitrarySignalParams params;
    for (int v = -32768; v <= 32767; ++v) params.samples.push_back(static_cast<std::int16_t>(v));
    const Bytes bytes = encoded(params);
    std::size_t at = 3;  // count 65536 is 80 80 04
    ASSERT_EQ(Bytes(bytes.begin(), bytes.begin() + 3), hex_bytes("80 80 04"));
    for (const std::int16_t expected : params.samples) {
        std::uint32_t z = 0;
        std::size_t length = 0;
        while (true) {
            ASSERT_LT(at, bytes.size());
            const std::uint8_t byte = bytes[at++];
            z |= std::uint32_t{byte & 0x7Fu} << (7 * length++);
            if ((byte & 0x80) == 0) {
                ASSERT_TRUE(length == 1 || byte != 0) << "overlong form for " << expected;
                break;
            }
        }
        ASSERT_LE(length, 3u);
        const auto decoded = static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1)));
        ASSERT_EQ(decoded, expected);
    }
    EXPECT_EQ(at, bytes.size());
}

// ---------------------------------------------------------------------------
// The whole default file.

TEST(EncodeFile, DefaultRecordIsTheDocumented201Bytes) {
    unsetenv("VESK_TARGET_MACHINE");
    const Bytes expected = hex_bytes(
        "00"                                               // running_on_target_machine
        "00 00 00 00 00 00 54 40 02 01"                    // supply_voltage, num_coils, 1 coil
        "07 44 65 66 61 75 6C 74"                          // "Default"
        "00 00 00 00 00 C0 62 40 9A 99 99 99 99 99 B9 3F"  // inductance, max_current
        "00 00 00 00 00 00 44 40 01"                       // max_carrier_frequency, 1 setting
        "00 00 00 00 00 A0 74 40 EF DA 9F EE DA 9F 36 40 DD 01 01"  // the LCSetting
        "01 00 00 00 00 00 A0 74 40 01 00 00 00 00 00 A0 74 40"     // capacitor lists
        "06 00 00 00 01"                                            // counts and flags
        "33 33 33 33 33 33 D3 3F 00 00 00 00 00 00 E0 3F"           // limits...
        "00 00 00 00 00 00 44 40 00 00 00 00 00 00 44 40"
        "00 00 00 00 00 80 51 40 00 00 00 00 00 40 80 40"
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 4E 40"  // intensity, session_duration
        "01 00 00 00 00 00 00 00 00 00"                    // one Constant 0.0
        "01 00 00 00 00 00 00 00 00 00 00 00"              // channel A
        "00 00 00 00 00 00 00 00 00 00 00 00"              // channel B
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // monitor_trace_visible
        "01");                                             // monitor_subsampling_factor
    ASSERT_EQ(expected.size(), 201u);
    const Settings settings;
    EXPECT_EQ(encode_file(settings), expected);
    EXPECT_EQ(encode_file(settings), expected) << "a second encoding differs";
}

TEST(EncodeFile, MonitorFlagsAreSixteenBytesWithoutCount) {
    unsetenv("VESK_TARGET_MACHINE");
    Settings settings;
    settings.monitor_trace_visible[0] = settings.monitor_trace_visible[3] = true;
    settings.monitor_trace_visible[15] = true;
    settings.monitor_subsampling_factor = 300;
    const Bytes bytes = encode_file(settings);
    ASSERT_EQ(bytes.size(), 202u);
    EXPECT_EQ(Bytes(bytes.begin() + 184, bytes.end()),
              hex_bytes("01 00 00 01 00 00 00 00 00 00 00 00 00 00 00 01 AC 02"));
}

TEST(EncodeFile, AppendsToWhatTheBufferHolds) {
    Bytes out = {0xAA};
    serialize(SignalSourceSelection{7, 0, true}, out);
    EXPECT_EQ(out, hex_bytes("AA 07 00 01"));
}

}  // namespace
}  // namespace protocols
