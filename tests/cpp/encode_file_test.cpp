// encode_file reserves its whole buffer from an upper bound first; its bytes
// must be those of a serialize into a buffer that grows as it goes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "protocols/encoder.hpp"

namespace protocols {
namespace {

Settings settings_with_long_signals() {
    unsetenv("VESK_TARGET_MACHINE");
    std::mt19937 rng(3);
    Settings settings;
    settings.machine_config.coils.at(0).name = "\xC3\xA4 long name";
    for (const std::size_t count : {16383u, 16384u, 16385u, 0u, 100000u}) {
        Samples samples(count);
        for (std::int16_t& s : samples) s = static_cast<std::int16_t>(rng());
        settings.signals.push_back(ArbitrarySignalParams{samples});
        settings.signals.push_back(MixedSignalParams{count, ~std::uint64_t{0}});
    }
    return settings;
}

TEST(EncodeFile, LongSignalsAcrossChunkBoundariesMatchSerialize) {
    const Settings settings = settings_with_long_signals();
    Bytes expected;
    serialize(settings, expected);
    const Bytes file = encode_file(settings);
    EXPECT_EQ(file, expected);
    // Reserved once from the exact size plus one sample chunk's slack (48 KiB
    // and a little): an overestimate would leave more, an underestimate would
    // have regrown it.
    EXPECT_LT(file.capacity() - file.size(), 49u * 1024);
}

// Pieces of any size put together are the file; each but the last holds at
// least the size asked for.
TEST(EncodeFileInPieces, PiecesMakeUpTheFile) {
    const Settings settings = settings_with_long_signals();
    const Bytes file = encode_file(settings);
    for (const std::size_t piece_bytes : {1u, 1000u, 100000u, 10000000u}) {
        Bytes joined;
        std::vector<std::size_t> sizes;
        EXPECT_TRUE(encode_file_in_pieces(settings, piece_bytes, [&](auto piece) {
            joined.insert(joined.end(), piece.begin(), piece.end());
            sizes.push_back(piece.size());
            return true;
        }));
        EXPECT_EQ(joined, file) << "pieces of " << piece_bytes;
        ASSERT_FALSE(sizes.empty());
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_GE(sizes[i], piece_bytes);
    }
}

TEST(EncodeFileInPieces, SinkThatRefusesStopsTheEncoding) {
    const Settings settings = settings_with_long_signals();
    std::size_t pieces = 0;
    EXPECT_FALSE(encode_file_in_pieces(settings, 1000, [&](auto) { return ++pieces < 3; }));
    EXPECT_EQ(pieces, 3u);
}

}  // namespace
}  // namespace protocols
