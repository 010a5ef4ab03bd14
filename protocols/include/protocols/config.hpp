#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace protocols::config {

inline constexpr double MAX_SESSION_DURATION = 1800.0;  // seconds
inline constexpr double MIN_SESSION_DURATION = 0.01;    // seconds, enforced by the setter
inline constexpr double MIN_INTENSITY = 0.0;
inline constexpr double MAX_INTENSITY = 1.0;
inline constexpr double SAMPLING_RATE = 5000.0;  // samples per second, every signal
inline constexpr double SAMPLE_SCALE = 32767.0;  // a normalised 1.0 is stored as 32767
inline constexpr std::int16_t MAX_STORED_CODE = 32767;

// A closed range that a setter accepts, with its ends as every message
// writes them (the text form's digits: "0.0", "1800.0"), so that a message
// cannot name other limits than the ones checked.
template <typename T>
struct Range {
    T low;
    T high;
    std::string_view low_text;
    std::string_view high_text;
    std::string_view unit;  // "" or " s"

    // Written so that NaN is outside.
    constexpr bool contains(T value) const { return value >= low && value <= high; }

    // "0.01..1800.0 s"
    std::string text() const {
        return std::string(low_text) + ".." + std::string(high_text) + std::string(unit);
    }
};

inline constexpr Range<double> INTENSITY{MIN_INTENSITY, MAX_INTENSITY, "0.0", "1.0", ""};
inline constexpr Range<double> SESSION_DURATION{MIN_SESSION_DURATION, MAX_SESSION_DURATION, "0.01",
                                                "1800.0", " s"};
// The codes add_arbitrary_signal stores (an int16 may hold others).
inline constexpr Range<std::int16_t> STORED_CODE{0, MAX_STORED_CODE, "0", "32767", ""};

}  // namespace protocols::config
