// libFuzzer target: the decoder must never crash or read out of bounds, a
// refusal must point inside the input, and every accepted input must
// re-encode to exactly the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
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
    // The text form must cope with whatever the decoder lets through.
    if (protocols::text_form(result.value()).empty()) std::abort();
    return 0;
}
