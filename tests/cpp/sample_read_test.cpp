// The decoder's bulk sample loop against its exact reader: whatever the
// position of a sample in a long list (and so whichever loop meets it), a
// well-formed one decodes to its value and a malformed one is refused with the
// same offset, path and message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"

namespace protocols {
namespace {

// Values of every wire length (1, 2 and 3 bytes), in a seeded order.
Samples mixed_samples(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    Samples samples(count);
    const std::int16_t by_length[] = {0, -64, 63, 64, -8192, 8191, 8192, -32768, 32767};
    for (std::int16_t& s : samples) {
        s = rng() % 4 == 0 ? by_length[rng() % std::size(by_length)]
                           : static_cast<std::int16_t>(rng());
    }
    return samples;
}

Settings record_with(const Samples& samples) {
    unsetenv("VESK_TARGET_MACHINE");
    Settings s;
    s.signals = {ArbitrarySignalParams{samples}};
    return s;
}

// Where each sample's wire form starts in encode_file(record_with(samples)):
// after the default record's first 151 bytes, the variant byte and the count.
std::vector<std::size_t> sample_offsets(const Samples& samples) {
    const std::size_t n = samples.size();
    std::size_t at = 151 + 1 + (n < 128 ? 1 : n < 16384 ? 2 : 3);
    std::vector<std::size_t> offsets;
    for (const std::int16_t s : samples) {
        offsets.push_back(at);
        const auto z = static_cast<std::uint16_t>((static_cast<std::uint16_t>(s) << 1) ^ (s >> 15));
        at += 1 + (z >= 0x80) + (z >= 0x4000);
    }
    return offsets;
}

TEST(SampleReader, LongListsOfEveryLengthRoundTrip) {
    for (const std::size_t count :
         {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 100u, 1000u, 100003u}) {
        const Settings original = record_with(mixed_samples(count, static_cast<unsigned>(count)));
        const Bytes bytes = encode_file(original);
        const DecodeResult result = decode_file(bytes);
        ASSERT_TRUE(result) << count << ": " << result.error().describe();
        EXPECT_EQ(result.value(), original) << count << " samples";
    }
}

TEST(SampleReader, EverySixteenBitValueRoundTrips) {
    Samples all;
    for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<std::int16_t>(v));
    std::shuffle(all.begin(), all.end(), std::mt19937(5));
    const Settings original = record_with(all);
    const DecodeResult result = decode_file(encode_file(original));
    ASSERT_TRUE(result) << result.error().describe();
    EXPECT_EQ(result.value(), original);
}

struct Fault {
    const char* kind;
    std::vector<std::uint8_t> wire;
    const char* message;
};

const Fault FAULTS[] = {
    {"overlong two bytes", {0x85, 0x00}, "overlong varint (not the shortest form)"},
    {"overlong three bytes", {0x85, 0x80, 0x00}, "overlong varint (not the shortest form)"},
    {"overlong zero", {0x80, 0x00}, "overlong varint (not the shortest form)"},
    {"17 bits", {0x80, 0x80, 0x04}, "zigzag sample 65536 exceeds 16 bits"},
    {"third byte 0x7f", {0xFF, 0xFF, 0x7F}, "zigzag sample 2097151 exceeds 16 bits"},
    {"four bytes", {0x80, 0x80, 0x80, 0x01}, "zigzag sample 2097152 exceeds 16 bits"},
    {"ten bytes",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
     "zigzag sample 18446744073709551615 exceeds 16 bits"},
};

// A fault put in place of sample k, for every k of a 200-sample list: the
// fast loop meets it at every position within its blocks and windows.
TEST(SampleReader, AFaultAnywhereIsNamedAsTheExactReaderNamesIt) {
    const Samples samples = mixed_samples(200, 11);
    const Bytes bytes = encode_file(record_with(samples));
    const std::vector<std::size_t> offsets = sample_offsets(samples);
    for (const Fault& fault : FAULTS) {
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const std::size_t end = k + 1 < offsets.size() ? offsets[k + 1] : offsets[k] + 3;
            Bytes faulty(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offsets[k]));
            faulty.insert(faulty.end(), fault.wire.begin(), fault.wire.end());
            faulty.insert(faulty.end(), bytes.begin() + static_cast<std::ptrdiff_t>(end),
                          bytes.end());
            const DecodeResult result = decode_file(faulty);
            ASSERT_FALSE(result) << fault.kind << " at sample " << k;
            EXPECT_EQ(result.error().describe(), "offset " + std::to_string(offsets[k]) +
                                                     ": signals[0].Arbitrary.samples[" +
                                                     std::to_string(k) + "]: " + fault.message)
                << fault.kind << " at sample " << k;
        }
    }
}

// A file cut inside its samples fails at the sample that the cut falls in
// (or that would start at it), whichever loop reads there.
TEST(SampleReader, ACutInsideTheSamplesNamesTheSampleItFallsIn) {
    const Samples samples = mixed_samples(300, 12);
    const Bytes bytes = encode_file(record_with(samples));
    const std::vector<std::size_t> offsets = sample_offsets(samples);
    for (std::size_t cut = offsets.front(); cut <= offsets.back(); ++cut) {
        std::size_t k = 0;
        while (k + 1 < offsets.size() && offsets[k + 1] <= cut) ++k;
        const DecodeResult result = decode_file(std::span<const std::uint8_t>(bytes.data(), cut));
        ASSERT_FALSE(result) << "cut at " << cut;
        if (result.error().message.starts_with("count ")) continue;  // refused up front
        EXPECT_EQ(result.error().describe(),
                  "offset " + std::to_string(offsets[k]) + ": signals[0].Arbitrary.samples[" +
                      std::to_string(k) + "]: unexpected end of input inside a varint")
            << "cut at " << cut;
    }
}

}  // namespace
}  // namespace protocols
