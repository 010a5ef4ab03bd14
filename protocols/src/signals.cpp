#include "protocols/signals.hpp"

#include <cmath>

#include "protocols/config.hpp"
#include "saturating_cast.hpp"

namespace protocols {

std::uint64_t sample_count(double session_duration) {
    // The product is rounded up as a double, so 0.07 s (350.00000000000006) gives 351.
    return saturating_to_u64(std::ceil(session_duration * config::SAMPLING_RATE));
}

}  // namespace protocols
