// The picture that `vesk plot` writes, for any front end that shows a record.
#pragma once

#include <string>
#include <string_view>

#include "plot_window.hpp"
#include "protocols/settings.hpp"

namespace vesk {

// The window of the session (plot_window) as one self-contained SVG
// document, titled with `file_name` (any bytes: escaped, invalid UTF-8
// replaced), so the result is always valid UTF-8.
std::string plot_svg(const protocols::Settings& settings, std::string_view file_name,
                     const PlotWindow& window);

// The picture's title, "name.vesk — 60.0 s, intensity 0.4", its name cut
// to fit; not yet escaped for XML.
std::string plot_title(const protocols::Settings& settings, std::string_view file_name);

// The whole session.
std::string plot_svg(const protocols::Settings& settings, std::string_view file_name);

}  // namespace vesk
