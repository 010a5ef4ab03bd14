#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/fields.hpp"

namespace protocols {

// Signal parameters are stored exactly as given: no units, ranges or
// conversions are applied here. `variant_name` is the name of the Signal
// alternative that carries the record.

struct ConstantSignalParams {
    double value = 0.0;

    static constexpr std::string_view variant_name = "Constant";
    PROTOCOLS_RECORD(ConstantSignalParams, value);
};

struct SineSignalParams {
    double amplitude = 0.0;
    double frequency = 0.0;
    double phase = 0.0;
    double depth = 1.0;

    static constexpr std::string_view variant_name = "Sine";
    PROTOCOLS_RECORD(SineSignalParams, amplitude, frequency, phase, depth);
};

struct RampSignalParams {
    double peak = 0.0;
    double up_duration = 0.0;
    double down_duration = 0.0;

    static constexpr std::string_view variant_name = "Ramp";
    PROTOCOLS_RECORD(RampSignalParams, peak, up_duration, down_duration);
};

struct MixedSignalParams {
    std::uint64_t a_idx = 0;  // positions in Settings::signals, never checked
    std::uint64_t b_idx = 0;

    static constexpr std::string_view variant_name = "MixedSignal";
    PROTOCOLS_RECORD(MixedSignalParams, a_idx, b_idx);
};

// Leaves the elements that a resize adds uninitialised, where std::allocator
// would zero them: a sample array is always written in full right after it is
// sized (quantised from NumPy, decoded from a file), and zeroing 18 MB first
// would be a whole extra pass over it. Other constructions are unchanged.
template <typename T>
struct UninitialisedOnResize : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedOnResize<U>;
    };
    UninitialisedOnResize() = default;
    template <typename U>
    constexpr UninitialisedOnResize(const UninitialisedOnResize<U>&) noexcept {}

    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            std::uninitialized_default_construct_n(at, 1);
        } else {
            std::construct_at(at, std::forward<Args>(args)...);
        }
    }
};

// Contiguous stored samples (data(), size()), as a std::vector with the
// allocator above.
using Samples = std::vector<std::int16_t, UninitialisedOnResize<std::int16_t>>;

struct ArbitrarySignalParams {
    Samples samples;  // quantised, each in 0..32767

    static constexpr std::string_view variant_name = "Arbitrary";
    PROTOCOLS_RECORD(ArbitrarySignalParams, samples);

#ifdef _LIBCPP_VERSION
    // libc++ moves a vector's elements as bytes when they declare themselves
    // relocatable so; otherwise growing a list of signals moves and destroys
    // each one through the variant's dispatch table, two calls a signal. The
    // samples are the only member, so this holds exactly when it holds for them.
    using __trivially_relocatable =
        std::conditional_t<std::__libcpp_is_trivially_relocatable<Samples>::value,
                           ArbitrarySignalParams, void>;
#endif
};

// The alternative's index is the variant index stored in the protocol file.
using Signal = std::variant<ConstantSignalParams, SineSignalParams, RampSignalParams,
                            MixedSignalParams, ArbitrarySignalParams>;
#ifdef _LIBCPP_VERSION
static_assert(std::__libcpp_is_trivially_relocatable<Signal>::value,
              "a list of signals would grow through the variant's dispatch table");
#endif

// Samples in a session of `session_duration` seconds: ceil(duration * 5000.0),
// saturated into u64. The caller ensures session_duration > 0.0.
std::uint64_t sample_count(double session_duration);

// A normalised sample in [0.0, 1.0] to its stored value: round(x * 32767.0),
// halves away from zero, saturated into i16. The caller range-checks x.
// Inline: it sits in the per-sample loop of arbitrary signals.
inline std::int16_t quantise_sample(double normalised) {
    const double scaled = std::round(normalised * 32767.0);
    if (!(scaled >= -32768.0)) return scaled != scaled ? 0 : -32768;
    if (scaled > 32767.0) return 32767;
    return static_cast<std::int16_t>(scaled);
}

}  // namespace protocols
