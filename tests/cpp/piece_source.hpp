// A file's bytes given to the decoder a few at a time, as a slow or
// interrupted read() gives them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"

namespace protocols {

// Gives `bytes` in reads of 1 to `longest` bytes (seeded), or fewer when the
// room is smaller. Remembers whether it was ever asked for more than remain:
// the decoder must read no further than the size it was given.
class PieceSource final : public ByteSource {
public:
    PieceSource(std::span<const std::uint8_t> bytes, std::size_t longest, unsigned seed)
        : bytes_(bytes), longest_(longest), rng_(seed) {}

    std::size_t read_some(std::uint8_t* out, std::size_t room) override {
        if (room > bytes_.size() - at_) asked_past_end = true;
        const std::size_t n = std::min({room, bytes_.size() - at_, 1 + rng_() % longest_});
        std::memcpy(out, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }

    bool asked_past_end = false;

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t longest_;
    std::size_t at_ = 0;
    std::mt19937 rng_;
};

// The outcome of a decoding as one comparable string: the refusal, or the
// bytes the record encodes to.
inline std::string outcome(const DecodeResult& result) {
    if (!result) return "refused: " + result.error().describe();
    const Bytes again = encode_file(result.value());
    return "accepted: " + std::string(again.begin(), again.end());
}

}  // namespace protocols
