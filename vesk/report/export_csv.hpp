// An arbitrary signal's samples as CSV, for `vesk export`.
#pragma once

#include "protocols/signals.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// Rows of "time_s,stored,normalised" after that header, handed to `sink` in
// blocks. False when the sink refused one.
bool write_csv(const protocols::Samples& samples, const protocols::TextSink& sink);

}  // namespace vesk
