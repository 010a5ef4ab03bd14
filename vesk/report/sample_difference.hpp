// How two sample lists differ, found at close to memory speed: equal blocks
// are skipped by memcmp, and only differing blocks are scanned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vesk {

struct SampleDifference {
    std::size_t count = 0;  // positions whose stored values differ
    std::size_t first = 0;  // the first and last of them, when count > 0
    std::size_t last = 0;
    std::int32_t largest = 0;  // new - old of the largest magnitude (positive on a tie)
};

// Compares a[i] with b[i] for every position the two have in common.
SampleDifference compare_samples(std::span<const std::int16_t> a, std::span<const std::int16_t> b);

}  // namespace vesk
