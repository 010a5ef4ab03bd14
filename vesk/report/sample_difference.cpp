#include "sample_difference.hpp"

#include <algorithm>
#include <cstring>

namespace vesk {
namespace {

constexpr std::size_t BLOCK = 16384;  // samples; 32 KiB of each list, well inside L1 + L2

struct BlockScan {
    std::uint32_t count = 0;
    std::int32_t lowest = 0;  // of new - old
    std::int32_t highest = 0;
};

// Branch-free, so that it vectorises: the count and both extremes of new - old.
BlockScan scan_block(const std::int16_t* a, const std::int16_t* b, std::size_t n) {
    BlockScan scan;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t d = std::int32_t{b[i]} - std::int32_t{a[i]};
        scan.count += d != 0;
        scan.lowest = std::min(scan.lowest, d);
        scan.highest = std::max(scan.highest, d);
    }
    return scan;
}

}  // namespace

SampleDifference compare_samples(std::span<const std::int16_t> a, std::span<const std::int16_t> b) {
    const std::size_t n = std::min(a.size(), b.size());
    SampleDifference result;
    std::int32_t lowest = 0, highest = 0;
    std::size_t last_block = 0;
    for (std::size_t start = 0; start < n; start += BLOCK) {
        const std::size_t length = std::min(BLOCK, n - start);
        if (std::memcmp(a.data() + start, b.data() + start, length * sizeof(std::int16_t)) == 0) {
            continue;
        }
        const BlockScan scan = scan_block(a.data() + start, b.data() + start, length);
        if (result.count == 0) {
            result.first = static_cast<std::size_t>(
                std::mismatch(a.begin() + start, a.begin() + start + length, b.begin() + start)
                    .first -
                a.begin());
        }
        result.count += scan.count;
        lowest = std::min(lowest, scan.lowest);
        highest = std::max(highest, scan.highest);
        last_block = start;
    }
    if (result.count != 0) {
        std::size_t i = std::min(n, last_block + BLOCK);
        while (a[i - 1] == b[i - 1]) --i;
        result.last = i - 1;
        result.largest = highest >= -lowest ? highest : lowest;
    }
    return result;
}

}  // namespace vesk
