// libFuzzer target: the decoder must never crash or read out of bounds, a
// refusal must point inside the input, and every accepted input must
// re-encode to exactly the same bytes; its text and JSON forms are written
// whole and in pieces, which must agree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const protocols::DecodeResult result = protocols::decode_file({data, size});
    if (!result) {
        const protocols::DecodeError& error = result.error();
        if (error.offset > size || error.message.empty()) {
            std::fprintf(stderr, "bad refusal for %zu bytes: %s\n", size, error.describe().c_str());
            std::abort();
        }
        return 0;
    }
    const protocols::Bytes again = protocols::encode_file(result.value());
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0) {
        std::fprintf(stderr, "accepted %zu bytes that re-encode to %zu different bytes\n", size,
                     again.size());
        std::abort();
    }
    // The text and JSON forms must cope with whatever the decoder lets
    // through, written whole or in pieces (small ones, to cross every bound).
    const std::string text = protocols::text_form(result.value());
    std::string json;
    protocols::write_json(json, result.value());
    std::string joined;
    const protocols::TextSink join = [&](std::string_view piece) {
        joined += piece;
        return true;
    };
    if (text.empty() || json.empty()) std::abort();
    if (!protocols::write_text_in_pieces(result.value(), 64, join) || joined != text) std::abort();
    joined.clear();
    if (!protocols::write_json_in_pieces(result.value(), 64, join) || joined != json) std::abort();
    return 0;
}
