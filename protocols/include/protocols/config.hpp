#pragma once

namespace protocols::config {

inline constexpr double MAX_SESSION_DURATION = 1800.0;  // seconds
inline constexpr double MIN_SESSION_DURATION = 0.01;    // seconds, enforced by the setter
inline constexpr double MIN_INTENSITY = 0.0;
inline constexpr double MAX_INTENSITY = 1.0;
inline constexpr double SAMPLING_RATE = 5000.0;  // samples per second, every signal
inline constexpr double SAMPLE_SCALE = 32767.0;  // a normalised 1.0 is stored as 32767

}  // namespace protocols::config
