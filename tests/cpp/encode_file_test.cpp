// encode_file reserves its whole buffer from an upper bound first; its bytes
// must be those of a serialize into a buffer that grows as it goes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "protocols/encoder.hpp"

namespace protocols {
namespace {

TEST(EncodeFile, LongSignalsAcrossChunkBoundariesMatchSerialize) {
    unsetenv("VESK_TARGET_MACHINE");
    std::mt19937 rng(3);
    Settings settings;
    settings.machine_config.coils.at(0).name = "\xC3\xA4 long name";
    for (const std::size_t count : {16383u, 16384u, 16385u, 0u, 100000u}) {
        std::vector<std::int16_t> samples(count);
        for (std::int16_t& s : samples) s = static_cast<std::int16_t>(rng());
        settings.signals.push_back(ArbitrarySignalParams{samples});
        settings.signals.push_back(MixedSignalParams{count, ~std::uint64_t{0}});
    }
    Bytes expected;
    serialize(settings, expected);
    const Bytes file = encode_file(settings);
    EXPECT_EQ(file, expected);
    // Reserved once from the exact size plus one sample chunk's slack (48 KiB):
    // an overestimate would leave more, an underestimate would have regrown it.
    EXPECT_LE(file.capacity() - file.size(), 48u * 1024 + 1);
}

}  // namespace
}  // namespace protocols
