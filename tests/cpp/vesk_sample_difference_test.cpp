#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sample_difference.hpp"

namespace {

struct Case {
    std::string name;
    std::vector<std::int16_t> a, b;
    std::size_t count, first, last;
    std::int32_t largest;  // new - old
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class CompareSamples : public testing::TestWithParam<Case> {};

// Each largest difference has its own sign: neither extreme may start above
// or below what the samples give.
TEST_P(CompareSamples, CountsEndsAndLargest) {
    const Case& c = GetParam();
    const vesk::SampleDifference d = vesk::compare_samples(c.a, c.b);
    EXPECT_EQ(d.count, c.count);
    if (c.count == 0) return;
    EXPECT_EQ(d.first, c.first);
    EXPECT_EQ(d.last, c.last);
    EXPECT_EQ(d.largest, c.largest);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompareSamples,
    testing::Values(Case{"same", {1, 2, 3}, {1, 2, 3}, 0, 0, 0, 0},
                    Case{"one_lower_by_one", {5, 5, 5}, {5, 4, 5}, 1, 1, 1, -1},
                    Case{"one_higher_by_one", {5, 5, 5}, {6, 5, 5}, 1, 0, 0, 1},
                    Case{"tie_is_positive", {5, 5, 5}, {3, 5, 7}, 2, 0, 2, 2},
                    Case{"lower_wins", {0, 0, 0, 0}, {0, 1, -9, 0}, 2, 1, 2, -9},
                    Case{"extremes", {-32768, 32767}, {32767, -32768}, 2, 0, 1, 65535}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
