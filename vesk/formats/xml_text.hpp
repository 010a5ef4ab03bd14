// Text from an untrusted file, made safe to place inside an XML document.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Appends `text` as XML character data (usable in an attribute value too):
// & < > " ' become entities; a byte that is not part of valid UTF-8, a
// character XML 1.0 does not allow (the control characters, U+FFFE, U+FFFF)
// and one that would not show as itself (the bidirectional formatting
// characters, U+2028, U+2029) becomes U+FFFD. Names from a file come here
// already in their JSON form, so that their escapes show which character it
// was. Cutting a long text is the caller's (cut_to_columns).
void append_xml_text(std::string& out, std::string_view text);

}  // namespace vesk
