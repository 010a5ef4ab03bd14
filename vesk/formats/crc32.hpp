// CRC-32 as ZIP, zlib and PNG compute it (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vesk {

class Crc32 {
public:
    // Continues the checksum over `bytes`, in pieces of any size.
    void update(std::span<const std::uint8_t> bytes);
    std::uint32_t value() const { return ~state_; }

private:
    std::uint32_t state_ = 0xFFFFFFFF;
};

// The CRC of A followed by B, from the CRC of A, that of B and B's length in
// bytes, without reading either again: one checksum pass serves two
// checksums that differ in what precedes the same bytes.
std::uint32_t crc32_combine(std::uint32_t first, std::uint32_t second, std::uint64_t second_length);

inline std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    Crc32 crc;
    crc.update(bytes);
    return crc.value();
}

}  // namespace vesk
