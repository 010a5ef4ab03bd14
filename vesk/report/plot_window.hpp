// The stretch of time a picture shows: the whole session, or a window of it.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "protocols/settings.hpp"

namespace vesk {

// Seconds from the session's start: `start` included, `end` not.
struct PlotWindow {
    double start = 0.0;
    double end = 0.0;
    bool whole = true;  // the whole axis: samples past its end still count in a stored range
    double seconds() const { return end - start; }
};

// The time axis of the whole picture: the session's duration, or for a file
// whose duration is no usable length, the longest arbitrary signal's, else
// one second.
double axis_seconds(const protocols::Settings& settings);

// The window from `start` to `end` (none: the axis's start or end), or why
// there is none: a bound that is no finite number, a start below 0, an end
// past the axis's end, a start not before the end, or a window too short
// for its times to be told apart (under a billionth of its end).
std::variant<PlotWindow, std::string> plot_window(const protocols::Settings& settings,
                                                  std::optional<double> start,
                                                  std::optional<double> end);

}  // namespace vesk
