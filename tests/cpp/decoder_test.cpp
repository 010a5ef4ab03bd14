#include "protocols/decoder.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "piece_source.hpp"
#include "protocols/encoder.hpp"
#include "protocols/text_form.hpp"

namespace protocols {
namespace {

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();

Settings default_record() {
    unsetenv("VESK_TARGET_MACHINE");
    return Settings();
}

// A record with every kind of signal and the values at the edges of each wire type.
Settings edge_record() {
    Settings s = default_record();
    s.running_on_target_machine = true;
    s.machine_config.num_coils = U64_MAX;
    s.machine_config.coils.push_back(Coil("", -0.0, std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(), {}));
    s.machine_config.coils.push_back(
        Coil("Spule \xC3\xA4\xE2\x86\x92\xF0\x9F\x98\x80 \"q\"\n", 4.9e-324, 1e16, 1e-5,
             {LCSetting{0.0, 1.0, U64_MAX, 0}, LCSetting{330.0, 2.0, 128, 16384}}));
    s.machine_config.capacitors.assign(128, 1.5);
    s.machine_config.possible_capacitances.clear();
    s.machine_config.smbus_psu_connected = true;
    s.intensity = -0.0;
    s.session_duration = 1800.0;
    s.signals = {
        ConstantSignalParams{-0.25},
        SineSignalParams{1.0, 10.0, 0.0, 0.5},
        RampSignalParams{-1.0, -2.0, std::numeric_limits<double>::max()},
        MixedSignalParams{0, U64_MAX},
        ArbitrarySignalParams{{0, -1, 1, 300, -32768, 32767}},
        ArbitrarySignalParams{},
        MixedSignalParams{127, 128},
    };
    s.channel_a_settings = {true, {0, 0, false}, {1, 0, false}, {2, 1, true}, 1, 200};
    s.channel_b_settings = {false, {U64_MAX, U64_MAX, true}, {}, {}, U64_MAX, 16383};
    s.monitor_trace_visible[0] = s.monitor_trace_visible[15] = true;
    s.monitor_subsampling_factor = std::uint64_t{1} << 63;
    return s;
}

// The same with NaN payloads, which operator== cannot compare.
Settings nan_record() {
    Settings s = edge_record();
    s.intensity = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
    s.signals.push_back(ConstantSignalParams{-std::numeric_limits<double>::quiet_NaN()});
    s.machine_config.capacitors[5] = std::bit_cast<double>(std::uint64_t{0xFFF0000000ABCDEF});
    return s;
}

Settings decoded(const Bytes& bytes) {
    DecodeResult result = decode_file(bytes);
    EXPECT_TRUE(result.has_value()) << result.error().describe();
    return result ? std::move(result).value() : Settings();
}

TEST(DecoderRoundTrip, DefaultFileDecodesToTheDefaultRecord) {
    const Settings original = default_record();
    const Bytes bytes = encode_file(original);
    ASSERT_EQ(bytes.size(), 201u);
    const Settings back = decoded(bytes);
    EXPECT_EQ(back, original);
    EXPECT_EQ(text_form(back), text_form(original));
}

TEST(DecoderRoundTrip, EdgeValuesSurviveFieldForField) {
    const Settings original = edge_record();
    const Settings back = decoded(encode_file(original));
    EXPECT_EQ(back, original);
    EXPECT_EQ(text_form(back), text_form(original));
}

TEST(DecoderRoundTrip, NanPayloadsAndEveryByteSurvive) {
    const Settings original = nan_record();
    const Bytes bytes = encode_file(original);
    const Settings back = decoded(bytes);
    EXPECT_EQ(encode_file(back), bytes);
    EXPECT_EQ(text_form(back), text_form(original));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back.intensity), 0x7FF8000000000001u);
}

TEST(DecoderRoundTrip, DecodingDoesNotDependOnTheEnvironment) {
    // The flag comes from the file, not from VESK_TARGET_MACHINE at decode time.
    const Bytes bytes = encode_file(default_record());
    setenv("VESK_TARGET_MACHINE", "1", 1);
    const Settings back = decoded(bytes);
    unsetenv("VESK_TARGET_MACHINE");
    EXPECT_FALSE(back.running_on_target_machine);
}

// Random records from a fixed seed: every one must come back byte for byte.
TEST(DecoderRoundTrip, SeededRandomRecords) {
    std::mt19937_64 rng(20240611);
    auto u64 = [&] { return rng() >> (rng() % 64); };
    auto f64 = [&] { return std::bit_cast<double>(rng()); };
    for (int round = 0; round < 200; ++round) {
        Settings s = default_record();
        s.intensity = f64();
        s.machine_config.num_coils = u64();
        s.machine_config.capacitors.resize(rng() % 4);
        for (double& c : s.machine_config.capacitors) c = f64();
        s.signals.clear();
        for (std::uint64_t n = rng() % 6; n > 0; --n) {
            switch (rng() % 5) {
                case 0:
                    s.signals.push_back(ConstantSignalParams{f64()});
                    break;
                case 1:
                    s.signals.push_back(SineSignalParams{f64(), f64(), f64(), f64()});
                    break;
                case 2:
                    s.signals.push_back(RampSignalParams{f64(), f64(), f64()});
                    break;
                case 3:
                    s.signals.push_back(MixedSignalParams{u64(), u64()});
                    break;
                default: {
                    auto& a = std::get<ArbitrarySignalParams>(
                        s.signals.emplace_back(std::in_place_type<ArbitrarySignalParams>));
                    for (std::uint64_t k = rng() % 300; k > 0; --k) {
                        a.samples.push_back(static_cast<std::int16_t>(rng()));
                    }
                }
            }
        }
        s.channel_b_settings.modulation_source = {u64(), u64(), (rng() & 1) != 0};
        s.monitor_subsampling_factor = u64();
        const Bytes bytes = encode_file(s);
        const DecodeResult result = decode_file(bytes);
        ASSERT_TRUE(result) << "round " << round << ": " << result.error().describe();
        ASSERT_EQ(encode_file(result.value()), bytes) << "round " << round;
    }
}

// Every proper prefix of a valid file is refused, at an offset inside the prefix.
TEST(DecoderRejects, EveryTruncation) {
    const Bytes bytes = encode_file(edge_record());
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const DecodeResult result =
            decode_file(std::span<const std::uint8_t>(bytes.data(), length));
        ASSERT_FALSE(result) << "prefix of " << length << " bytes accepted";
        EXPECT_LE(result.error().offset, length);
        const std::string& message = result.error().message;
        EXPECT_TRUE(message.find("end of input") != std::string::npos ||
                    message.find("exceeds what the remaining") != std::string::npos)
            << result.error().describe();
    }
}

// Offsets of the default file's fields (see docs/file-format.md).
constexpr std::size_t RUNNING = 0, COIL_NAME = 11, SIGNALS = 150, VARIANT = 151, MONITOR = 184,
                      SUBSAMPLING = 200;

Bytes splice(Bytes bytes, std::size_t at, std::size_t erase, std::vector<std::uint8_t> insert) {
    bytes.erase(bytes.begin() + at, bytes.begin() + at + erase);
    bytes.insert(bytes.begin() + at, insert.begin(), insert.end());
    return bytes;
}

Bytes with_arbitrary_signal() {
    Settings s = default_record();
    s.signals = {ArbitrarySignalParams{{5, 6}}};
    return encode_file(s);
}

struct Malformed {
    const char* kind;
    Bytes bytes;
    std::string expected;
};

void PrintTo(const Malformed& m, std::ostream* os) {
    *os << m.kind;
}

class DecoderRejectsMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(DecoderRejectsMalformed, NamesOffsetFieldAndReason) {
    const DecodeResult result = decode_file(GetParam().bytes);
    ASSERT_FALSE(result) << GetParam().kind;
    EXPECT_EQ(result.error().describe(), GetParam().expected);
}

const Bytes base = encode_file(default_record());
// 196 bytes; the arbitrary signal's variant 04 is at 151, its count 02 at 152,
// its samples at 153 and 154.
const Bytes arb = with_arbitrary_signal();

INSTANTIATE_TEST_SUITE_P(
    Kinds, DecoderRejectsMalformed,
    testing::Values(
        Malformed{"empty input",
                  {},
                  "offset 0: running_on_target_machine: unexpected end of input: bool needs 1 "
                  "byte, 0 left"},
        Malformed{"truncated f64", Bytes(base.begin(), base.begin() + 5),
                  "offset 1: machine_config.supply_voltage: unexpected end of input: f64 needs 8 "
                  "bytes, 4 left"},
        Malformed{"truncated inside a varint", splice(base, SUBSAMPLING, 1, {0x81}),
                  "offset 200: monitor_subsampling_factor: unexpected end of input inside a "
                  "varint"},
        Malformed{"one trailing byte", splice(base, 201, 0, {0x00}),
                  "offset 201: 1 trailing byte after the record"},
        Malformed{"trailing bytes", splice(base, 201, 0, {0x01, 0x02, 0x03}),
                  "offset 201: 3 trailing bytes after the record"},
        Malformed{"overlong varint", splice(base, SUBSAMPLING, 1, {0x81, 0x00}),
                  "offset 200: monitor_subsampling_factor: overlong varint (not the shortest "
                  "form)"},
        Malformed{"overlong zero", splice(base, SIGNALS, 1, {0x81, 0x80, 0x00}),
                  "offset 150: signals: overlong varint (not the shortest form)"},
        Malformed{"varint of 65 bits",
                  splice(base, SUBSAMPLING, 1,
                         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}),
                  "offset 200: monitor_subsampling_factor: varint exceeds 64 bits"},
        Malformed{"varint of 11 bytes",
                  splice(base, SUBSAMPLING, 1,
                         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
                  "offset 200: monitor_subsampling_factor: varint exceeds 64 bits"},
        Malformed{"bool byte 02", splice(base, RUNNING, 1, {0x02}),
                  "offset 0: running_on_target_machine: invalid bool byte 0x02"},
        Malformed{"bool byte ff in the monitor flags", splice(base, MONITOR + 3, 1, {0xFF}),
                  "offset 187: monitor_trace_visible[3]: invalid bool byte 0xff"},
        Malformed{"coil name with a byte that is never UTF-8",
                  splice(base, COIL_NAME + 1, 1, {0xFF}),
                  "offset 12: machine_config.coils[0].name: text is not valid UTF-8"},
        Malformed{"coil name with an overlong form", splice(base, COIL_NAME, 8, {0x02, 0xC0, 0x80}),
                  "offset 12: machine_config.coils[0].name: text is not valid UTF-8"},
        Malformed{"coil name with a surrogate",
                  splice(base, COIL_NAME, 8, {0x03, 0xED, 0xA0, 0x80}),
                  "offset 12: machine_config.coils[0].name: text is not valid UTF-8"},
        Malformed{"signal variant 5", splice(base, VARIANT, 1, {0x05}),
                  "offset 151: signals[0]: unknown signal variant 5"},
        Malformed{"signal variant 7", splice(base, VARIANT, 1, {0x07}),
                  "offset 151: signals[0]: unknown signal variant 7"},
        Malformed{"two-byte signal variant", splice(base, VARIANT, 1, {0x80, 0x01}),
                  "offset 151: signals[0]: unknown signal variant 128"},
        Malformed{"zigzag sample of 17 bits", splice(arb, 154, 1, {0x80, 0x80, 0x04}),
                  "offset 154: signals[0].Arbitrary.samples[1]: zigzag sample 65536 exceeds 16 "
                  "bits"},
        Malformed{"overlong sample", splice(arb, 153, 1, {0x85, 0x00}),
                  "offset 153: signals[0].Arbitrary.samples[0]: overlong varint (not the shortest "
                  "form)"},
        Malformed{
            "signal count of 2^64 - 1",
            splice(base, SIGNALS, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
            "offset 150: signals: count 18446744073709551615 exceeds what the remaining 50 "
            "bytes can hold"},
        // A signal takes at least 2 bytes, so 50 bytes hold at most 25.
        Malformed{"signal count one past the bound", splice(base, SIGNALS, 1, {26}),
                  "offset 150: signals: count 26 exceeds what the remaining 50 bytes can hold"},
        Malformed{"sample count past the bound", splice(arb, 152, 1, {44}),
                  "offset 152: signals[0].Arbitrary.samples: count 44 exceeds what the remaining "
                  "43 bytes can hold"},
        Malformed{"coil name longer than the file", splice(base, COIL_NAME, 1, {0xC8, 0x01}),
                  "offset 11: machine_config.coils[0].name: length 200 exceeds what the remaining "
                  "189 bytes can hold"}),
    [](const testing::TestParamInfo<Malformed>& info) {
        std::string name;
        for (const char c : std::string(info.param.kind))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// A count at its bound passes the bound check and fails later, on the data.
TEST(DecoderRejects, CountAtTheBoundReachesTheElements) {
    const DecodeResult result = decode_file(splice(base, SIGNALS, 1, {25}));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().path.rfind("signals[", 0), 0u) << result.error().describe();
}

TEST(DecoderAccepts, LargestVarintAndExtremeSamples) {
    const Bytes max =
        splice(base, SUBSAMPLING, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
    EXPECT_EQ(decoded(max).monitor_subsampling_factor, U64_MAX);
    // zigzag 65535 and 65534: -32768 and 32767.
    const Bytes extremes = splice(arb, 153, 2, {0xFF, 0xFF, 0x03, 0xFE, 0xFF, 0x03});
    const Settings s = decoded(extremes);
    EXPECT_EQ(std::get<ArbitrarySignalParams>(s.signals.at(0)).samples, (Samples{-32768, 32767}));
}

// Read from a source through a window of any size, in reads of any length, a
// file decodes as it does whole: the same record, or the same refusal. The
// files: every prefix of the edge record (every value cut anywhere), NaN
// payloads, and a coil name longer than most windows.
TEST(DecoderReadsInPieces, AsItDecodesTheWholeFile) {
    const Bytes edge = encode_file(edge_record());
    std::vector<Bytes> files = {encode_file(nan_record()),
                                splice(base, COIL_NAME, 1, {0xC8, 0x01})};
    Settings long_name = edge_record();
    long_name.machine_config.coils[1].name.assign(3000, 'n');
    files.push_back(encode_file(long_name));
    for (std::size_t length = 0; length <= edge.size(); ++length) {
        files.emplace_back(edge.begin(), edge.begin() + static_cast<std::ptrdiff_t>(length));
    }
    for (const std::size_t window : {1u, 2u, 7u, 64u, 1000u}) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            PieceSource source(files[f], 1 + f % 97, static_cast<unsigned>(f));
            const DecodeResult result = decode_file(source, files[f].size(), window);
            ASSERT_EQ(outcome(result), outcome(decode_file(files[f])))
                << "file " << f << ", window " << window;
            EXPECT_FALSE(source.asked_past_end) << "file " << f << ", window " << window;
        }
    }
}

// A source that gives out before the size it was given (a file that shrank,
// a read that failed) makes the decoding fail where its bytes end.
TEST(DecoderReadsInPieces, ASourceThatGivesOutIsNamedWhereItEnds) {
    const Bytes file = encode_file(edge_record());
    for (const std::size_t given : {0u, 1u, 150u, 300u}) {
        PieceSource source(std::span(file.data(), given), 5, 1);
        const DecodeResult result = decode_file(source, file.size(), 16);
        ASSERT_FALSE(result) << given;
        EXPECT_EQ(result.error().offset, given);
        EXPECT_EQ(result.error().message, "the input ended after " + std::to_string(given) +
                                              " of its " + std::to_string(file.size()) + " bytes");
    }
}

}  // namespace
}  // namespace protocols
