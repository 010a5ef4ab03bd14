#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "load.hpp"
#include "protocols/encoder.hpp"
#include "protocols/signals.hpp"

namespace vesk {
namespace {

using namespace protocols;

// A record whose file is longer than one piece of the comparison (64 KiB).
Settings record_of_two_pieces() {
    Settings s;
    s.running_on_target_machine = false;
    Samples samples(40000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(i % 32768);
    }
    s.signals = {ArbitrarySignalParams{std::move(samples)}};
    return s;
}

struct FileEdit {
    const char* name;
    std::function<void(Bytes&)> apply;
    bool reencodes;
};

void PrintTo(const FileEdit& e, std::ostream* os) {
    *os << e.name;
}

class ReencodeCheck : public ::testing::TestWithParam<FileEdit> {};

// Any difference between the file and the record's own encoding, in the
// first piece, a later one, the last byte or the length, is noticed.
TEST_P(ReencodeCheck, AcceptsOnlyTheExactBytes) {
    const Settings record = record_of_two_pieces();
    Bytes file = encode_file(record);
    ASSERT_GT(file.size(), std::size_t{70000});
    GetParam().apply(file);
    EXPECT_EQ(reencodes_to(record, file), GetParam().reencodes);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ReencodeCheck,
    ::testing::Values(FileEdit{"None", [](Bytes&) {}, true},
                      FileEdit{"FirstByte", [](Bytes& b) { b[0] ^= 1; }, false},
                      FileEdit{"SecondPiece", [](Bytes& b) { b[70000] ^= 1; }, false},
                      FileEdit{"LastByte", [](Bytes& b) { b.back() ^= 1; }, false},
                      FileEdit{"OneByteMore", [](Bytes& b) { b.push_back(0); }, false},
                      FileEdit{"OneByteLess", [](Bytes& b) { b.pop_back(); }, false},
                      FileEdit{"Empty", [](Bytes& b) { b.clear(); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vesk
