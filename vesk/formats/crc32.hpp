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

inline std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    Crc32 crc;
    crc.update(bytes);
    return crc.value();
}

}  // namespace vesk
