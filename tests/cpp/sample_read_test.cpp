// The decoder's bulk sample loop against its exact reader: whatever the
// position of a sample in a long list (and so whichever loop meets it), a
// well-formed one decodes to its value and a malformed one is refused with the
// same offset, path and message.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "piece_source.hpp"
#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "sample_wire_read.hpp"

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
    {"a whole block of continuation bytes",
     [] {
         std::vector<std::uint8_t> wire(70, 0xFF);
         wire.back() = 0x01;
         return wire;
     }(),
     "varint exceeds 64 bits"},
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

// Decoded through a window that a source refills, a list meets the window's
// end at every position in turn: faults and cuts are named as when the file
// is decoded whole.
TEST(SampleReader, WindowEndsAnywhereChangeNothing) {
    const Samples samples = mixed_samples(400, 13);
    const Bytes bytes = encode_file(record_with(samples));
    const std::vector<std::size_t> offsets = sample_offsets(samples);
    std::vector<Bytes> files = {bytes, Bytes(bytes.begin(), bytes.end() - 500)};
    for (const std::size_t k : {0u, 37u, 250u}) {
        Bytes faulty = bytes;
        faulty[offsets[k] + 1] = 0x00;  // a second byte of 0: overlong, or a wrong next sample
        files.push_back(faulty);
    }
    for (std::size_t window = 80; window < 400; window += 7) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            PieceSource source(files[f], window / 3, static_cast<unsigned>(window));
            ASSERT_EQ(outcome(decode_file(source, files[f].size(), window)),
                      outcome(decode_file(files[f])))
                << "file " << f << ", window " << window;
        }
    }
}

// One sample as the exact reader takes it: its length on the wire, or 0 when
// it is malformed; its value in `value`.
std::size_t exact_sample(const std::uint8_t* p, const std::uint8_t* last, std::int16_t& value) {
    std::uint32_t z = 0;
    for (std::size_t i = 0; i < 3 && p + i < last; ++i) {
        z |= static_cast<std::uint32_t>(p[i] & 0x7F) << (7 * i);
        if (p[i] < 0x80) {
            if ((i > 0 && p[i] == 0) || z > 0xFFFF) return 0;
            value = static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1)));
            return i + 1;
        }
    }
    return 0;
}

// Wire forms of seeded random lengths and values, with a fault among them now
// and then; the bytes end where `last` cuts them.
std::vector<std::uint8_t> random_wire(std::mt19937& rng, std::size_t samples) {
    const std::vector<std::vector<std::uint8_t>> faults = {
        {0x85, 0x00},       {0x85, 0x80, 0x00},       {0x80, 0x80, 0x04},
        {0xFF, 0xFF, 0x7F}, {0x80, 0x80, 0x80, 0x01}, std::vector<std::uint8_t>(80, 0x80)};
    std::vector<std::uint8_t> wire;
    const unsigned fault_odds = 1 + rng() % 400;
    for (std::size_t k = 0; k < samples; ++k) {
        if (rng() % fault_odds == 0) {
            const auto& fault = faults[rng() % faults.size()];
            wire.insert(wire.end(), fault.begin(), fault.end());
            continue;
        }
        const std::uint32_t bound[] = {0x80, 0x4000, 0x10000};
        std::uint32_t z = rng() % bound[rng() % 3];
        for (; z >= 0x80; z >>= 7) wire.push_back(static_cast<std::uint8_t>(z | 0x80));
        wire.push_back(static_cast<std::uint8_t>(z));
    }
    return wire;
}

// The bulk loop on its own, on random wire forms that end against an
// unreadable page: it takes exactly the samples before the first that is
// malformed, or too near the end to be seen whole, or past `count`; with the
// exact reader's values; reading nothing at or past the end and writing
// nothing past `count`.
TEST(SampleReader, TheBulkLoopStopsExactlyAtTheFirstSampleItMustLeave) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    constexpr std::size_t PAGES = 16;
    void* const mapped = mmap(nullptr, (PAGES + 1) * page, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<std::uint8_t*>(mapped) + PAGES * page, page, PROT_NONE), 0);
    std::uint8_t* const last = static_cast<std::uint8_t*>(mapped) + PAGES * page;
    std::mt19937 rng(14);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> wire = random_wire(rng, 1 + rng() % 2000);
        wire.resize(std::min(wire.size(), PAGES * page));
        wire.resize(wire.size() - rng() % std::min<std::size_t>(wire.size(), 3));
        std::uint8_t* const first = last - wire.size();
        std::memcpy(first, wire.data(), wire.size());
        const std::size_t count = rng() % 2 == 0 ? wire.size() : rng() % (wire.size() + 1);
        std::vector<std::int16_t> out(count + 64, 0x5A5A);
        const SampleRun run = take_sample_wire_forms(first, last, out.data(), count);

        // Offsets of the samples the loop may take, up to the first it must
        // leave; a multi-byte one in the last two bytes it may leave too.
        std::vector<std::size_t> at = {0};
        std::size_t must_take = count;
        for (std::int16_t value; at.size() <= count;) {
            const std::uint8_t* const p = first + at.back();
            const std::size_t length = exact_sample(p, last, value);
            if (length == 0) break;
            if (length > 1 && last - p < 3) must_take = std::min(must_take, at.size() - 1);
            ASSERT_TRUE(at.size() > run.samples || out[at.size() - 1] == value)
                << "round " << round << ", sample " << at.size() - 1;
            at.push_back(at.back() + length);
        }
        must_take = std::min(must_take, at.size() - 1);
        ASSERT_LE(must_take, run.samples) << "round " << round;
        ASSERT_LT(run.samples, at.size()) << "round " << round;
        ASSERT_EQ(run.bytes, at[run.samples]) << "round " << round;
        ASSERT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(count), out.end(),
                                [](std::int16_t s) { return s == 0x5A5A; }))
            << "round " << round << ": written past count";
    }
    munmap(mapped, (PAGES + 1) * page);
}

}  // namespace
}  // namespace protocols
