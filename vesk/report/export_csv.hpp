// What `vesk export` writes of an arbitrary signal's samples: CSV rows, or an
// NPY array (npz_writer.hpp).
#pragma once

#include "protocols/signals.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// The header "time_s,stored,normalised", then a row per sample, handed to
// `write` in blocks of about 1 MiB; stops when `write` returns false.
void write_samples_csv(const protocols::Samples& samples, const protocols::TextSink& write);

}  // namespace vesk
