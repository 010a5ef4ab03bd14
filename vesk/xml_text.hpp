// Text from an untrusted file, made safe to place inside an XML document.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Appends `text` as XML character data (usable in an attribute value too):
// & < > " ' become entities; a byte that is not part of valid UTF-8, and a
// character XML 1.0 does not allow (the control characters, U+FFFE, U+FFFF),
// becomes U+FFFD. Text longer than `max_chars` characters is cut to that many,
// the last one an ellipsis, so that a long name cannot grow the document.
void append_xml_text(std::string& out, std::string_view text, std::size_t max_chars);

}  // namespace vesk
