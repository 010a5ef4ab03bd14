// libFuzzer target: the decoder must never crash or read out of bounds, a
// refusal must point inside the input, and every accepted input must
// re-encode to exactly the same bytes; decoded as it is read, through a
// window of a size the input chooses, it must give the same record or the
// same refusal; its text and JSON forms are written whole and in pieces,
// which must agree.
#include <algorithm>
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

namespace {

// The input in reads of at most `longest` bytes.
class ShortReads final : public protocols::ByteSource {
public:
    ShortReads(const std::uint8_t* data, std::size_t size, std::size_t longest)
        : data_(data), size_(size), longest_(longest) {}
    std::size_t read_some(std::uint8_t* out, std::size_t room) override {
        const std::size_t n = std::min({room, size_ - at_, longest_});
        std::memcpy(out, data_ + at_, n);
        at_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::size_t longest_;
};

bool same_outcome(const protocols::DecodeResult& a, const protocols::DecodeResult& b) {
    if (a.has_value() != b.has_value()) return false;
    return a ? a.value() == b.value() ||
                   protocols::encode_file(a.value()) == protocols::encode_file(b.value())
             : a.error() == b.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const protocols::DecodeResult result = protocols::decode_file({data, size});
    const std::size_t window = size == 0 ? 1 : 1 + data[size - 1] % 200;
    ShortReads source(data, size, 1 + (size == 0 ? 0 : data[0] % 64));
    if (!same_outcome(protocols::decode_file(source, size, window), result)) {
        std::fprintf(stderr, "decoded in a window of %zu, %zu bytes give another outcome\n", window,
                     size);
        std::abort();
    }
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
