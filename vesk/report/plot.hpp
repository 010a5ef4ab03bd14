// The picture that `vesk plot` writes, for any front end that shows a record.
#pragma once

#include <string>
#include <string_view>

#include "protocols/settings.hpp"

namespace vesk {

// The whole session as one self-contained SVG document, titled with
// `file_name` (any bytes: escaped, invalid UTF-8 replaced), so the result is
// always valid UTF-8.
std::string plot_svg(const protocols::Settings& settings, std::string_view file_name);

}  // namespace vesk
