// The sample writer's fast and exact paths, and the measured text form that
// str() writes into memory of exactly its length.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "protocols/text_form.hpp"

namespace protocols {
namespace {

Samples random_samples(std::size_t count, std::mt19937& rng) {
    Samples samples(count);
    for (std::int16_t& s : samples) s = static_cast<std::int16_t>(rng());  // negatives too
    return samples;
}

// The list layout built line by line, independent of the fast writer.
std::string expected_sample_list(const Samples& samples, unsigned level) {
    if (samples.empty()) return "[]";
    std::string text = "[\n";
    for (const std::int16_t s : samples) {
        text += std::string(4 * (level + 1), ' ') + std::to_string(s) + ",\n";
    }
    return text + std::string(4 * level, ' ') + "]";
}

// Counts around the 32 lines written one by one at the end, where the fast
// writer's wide stores stop.
const std::size_t SAMPLE_COUNTS[] = {0, 1, 2, 31, 32, 33, 34, 64, 65, 1000};

TEST(SampleWriter, MatchesTheListLayoutForEveryCountAndLevel) {
    std::mt19937 rng(7);
    for (const std::size_t count : SAMPLE_COUNTS) {
        const Samples samples = random_samples(count, rng);
        for (unsigned level = 0; level < 18; level += 1 + level / 4) {
            const std::string outer(4 * level, ' ');
            std::string out;
            write_text(out, ArbitrarySignalParams{samples}, level);
            EXPECT_EQ(out, "ArbitrarySignalParams {\n" + outer + "    samples: " +
                               expected_sample_list(samples, level + 1) + ",\n" + outer + "}")
                << count << " samples at level " << level;
        }
    }
}

struct MeasuredCase {
    const char* name;
    std::size_t samples;
    const char* coil_name;
    bool ascii;
};

void PrintTo(const MeasuredCase& c, std::ostream* os) {
    *os << c.name;
}

class MeasuredTextForm : public ::testing::TestWithParam<MeasuredCase> {};

// Written into a buffer of exactly the measured length (a byte past it would
// be a heap overflow under a sanitizer), it is text_form() byte for byte.
TEST_P(MeasuredTextForm, FillsExactlyItsLengthWithTheTextForm) {
    unsetenv("VESK_TARGET_MACHINE");
    std::mt19937 rng(11);
    Protocol protocol;
    protocol.settings.machine_config.coils.at(0).name = GetParam().coil_name;
    protocol.settings.signals.push_back(
        ArbitrarySignalParams{random_samples(GetParam().samples, rng)});
    protocol.settings.signals.push_back(ConstantSignalParams{-1.5e300});
    protocol.settings.signals.push_back(
        ArbitrarySignalParams{random_samples(GetParam().samples / 3, rng)});
    const std::string expected = text_form(protocol);

    const TextFormSize size = measure_text_form(protocol);
    ASSERT_EQ(size.bytes, expected.size());
    EXPECT_EQ(size.ascii, GetParam().ascii);
    const auto buffer = std::make_unique<char[]>(size.bytes);
    EXPECT_EQ(write_text_form(protocol, buffer.get(), size.bytes), size.bytes);
    EXPECT_EQ(std::string(buffer.get(), size.bytes), expected);
}

INSTANTIATE_TEST_SUITE_P(Protocols, MeasuredTextForm,
                         ::testing::Values(MeasuredCase{"NoSamples", 0, "Default", true},
                                           MeasuredCase{"TailOnly", 31, "Default", true},
                                           MeasuredCase{"FastAndTail", 100000, "Default", true},
                                           MeasuredCase{"EscapedControlCharacters", 40,
                                                        "a\"b\\\n\x01\x7f", true},
                                           MeasuredCase{"NonAsciiName", 40, "D\xC3\xA9", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace protocols
