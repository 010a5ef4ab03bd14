// The .npz that `vesk script` writes beside its script, and where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocols/settings.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

// The stored codes of every signal in `signals` (Arbitrary ones), one array
// each, named as the script loads them (npz_array_name); `crcs` are their
// codes' CRC-32s (stored_codes_crc32). False when `write` refuses a piece or
// an array is too long for the archive (npz_entry_fits).
bool write_stored_samples(const protocols::Settings& settings,
                          const std::vector<std::uint64_t>& signals,
                          const std::vector<std::uint32_t>& crcs, const protocols::TextSink& write);

// Where `vesk script` puts the samples beside OUT: OUT with its suffix
// replaced by ".npz", as Python's Path.with_suffix does, so that the script
// finds them through Path(__file__).with_suffix(".npz"). Empty for a name on
// which Python versions disagree (one ending in ".", or dots and then one
// suffix, like "..py") or that names no file ("", ".", "..", "dir/").
std::string npz_path_beside(const std::string& out);

}  // namespace vesk
