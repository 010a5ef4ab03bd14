#include "plot_window.hpp"

#include <algorithm>
#include <cmath>

#include "describe.hpp"
#include "protocols/config.hpp"
#include "protocols/signals.hpp"

namespace vesk {

using namespace protocols;

double axis_seconds(const Settings& s) {
    if (std::isfinite(s.session_duration) && s.session_duration > 0.0) {
        return s.session_duration;
    }
    std::size_t longest = 0;
    for (const Signal& signal : s.signals) {
        if (const auto* arbitrary = std::get_if<ArbitrarySignalParams>(&signal)) {
            longest = std::max(longest, arbitrary->samples.size());
        }
    }
    return longest != 0 ? static_cast<double>(longest) / config::SAMPLING_RATE : 1.0;
}

std::variant<PlotWindow, std::string> plot_window(const Settings& settings,
                                                  std::optional<double> start,
                                                  std::optional<double> end) {
    const double axis = axis_seconds(settings);
    for (const auto& [name, bound] : {std::pair{"start", start}, std::pair{"end", end}}) {
        if (bound && !std::isfinite(*bound)) {
            return std::string("window ") + name + " " + float_text(*bound) +
                   ": not a finite number of seconds";
        }
    }
    const PlotWindow window{start.value_or(0.0), end.value_or(axis),
                            start.value_or(0.0) == 0.0 && end.value_or(axis) == axis};
    const std::string shown =
        "window " + float_text(window.start) + ".." + float_text(window.end) + " s: ";
    if (window.start < 0.0) return shown + "the start is before the session's start, 0 s";
    if (window.end > axis) {
        return shown + "the end is past the session's end, " + float_text(axis) + " s";
    }
    if (!(window.start < window.end)) return shown + "the start must be before the end";
    if (window.seconds() < window.end * 1e-9) {
        return shown + "too short to draw: a window must last at least a billionth of its end";
    }
    return window;
}

}  // namespace vesk
