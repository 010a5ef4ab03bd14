// What `vesk summary` prints of a record, as text and as JSON.
#pragma once

#include <string>

#include "protocols/settings.hpp"

namespace vesk {

// Line by line.
std::string summary_text(const protocols::Settings& settings);

// The same facts as one JSON document, its signals and channel inputs as
// lists of flat rows.
std::string summary_json(const protocols::Settings& settings);

}  // namespace vesk
