// Float to unsigned conversion that never invokes undefined behaviour.
#pragma once

#include <cstdint>
#include <limits>

namespace protocols {

// A negative value or NaN gives 0, a value of 2^64 or more gives the largest
// u64; anything else is truncated towards zero (callers pass whole numbers).
inline std::uint64_t saturating_to_u64(double value) {
    if (!(value >= 0.0)) return 0;
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

}  // namespace protocols
