// How two records differ, as `vesk diff` prints it.
#pragma once

#include <cstddef>

#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// Handed to `sink` in pieces, with the number of differences found. False
// when the sink refused a piece.
bool write_diff(const protocols::Settings& a, const protocols::Settings& b,
                const protocols::TextSink& sink, std::size_t& differences);

}  // namespace vesk
