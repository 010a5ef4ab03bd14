// How wide a line of text is in a picture, estimated without the font: a
// character takes one column, a wide one (CJK, fullwidth forms, emoji) two.
// Lines are cut to a number of columns so that they stay inside the picture
// whatever the file holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Columns of `text`, UTF-8; a byte that begins no valid sequence counts as one
// character (it is shown as U+FFFD).
std::size_t text_columns(std::string_view text);

// `text` as it is if it takes at most `columns` columns, else its first
// characters and "…", together at most `columns` wide.
std::string cut_to_columns(std::string_view text, std::size_t columns);

// `text` as a JSON string (write_json_string), quotes included, cut likewise:
// the cut form keeps its closing quote and ends in "…" inside it, and never
// splits an escape. At least `"…"` when cut; an empty text is never cut.
std::string json_string_within(std::string_view text, std::size_t columns);

}  // namespace vesk
