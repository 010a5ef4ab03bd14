#include "sample_wire.hpp"

#include <array>

#include "byte_order.hpp"
#include "protocols/cpu_features.hpp"
#include "varint.hpp"

// On x86-64 the samples are encoded eight at a time with SSSE3's byte shuffle
// when the processor has it (checked once); elsewhere, and for the tail, one
// table load per sample. PROTOCOLS_BASELINE_ONLY builds the table loop alone
// (the tests use it to cover that loop on machines that would pick SSSE3).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(PROTOCOLS_BASELINE_ONLY)
#define PROTOCOLS_SAMPLE_WIRE_SSSE3 1
#include <immintrin.h>
#endif

namespace protocols {
namespace {

// The wire bytes of every sample, indexed by the sample's bits as a u16: the
// 1 to 3 varint bytes of its zigzag value from the lowest byte up, and their
// count in the top byte. One load per sample instead of branches on its size.
constexpr auto SAMPLE_WIRE_FORMS = [] {
    std::array<std::uint32_t, 1u << 16> table{};
    for (std::uint32_t bits = 0; bits < table.size(); ++bits) {
        std::uint8_t bytes[MAX_SAMPLE_BYTES]{};
        const auto count = put_varint(bytes, zigzag(static_cast<std::int16_t>(bits))) - bytes;
        std::uint32_t entry = static_cast<std::uint32_t>(count) << 24;
        for (std::size_t i = 0; i < MAX_SAMPLE_BYTES; ++i)
            entry |= std::uint32_t{bytes[i]} << (8 * i);
        table[bits] = entry;
    }
    return table;
}();

// One 4-byte store per sample; its top byte (the count) is overwritten by the
// next sample or falls in the slack.
std::uint8_t* put_one_by_one(const std::int16_t* first, const std::int16_t* last, std::uint8_t* p) {
    for (; first != last; ++first) {
        const std::uint32_t entry = SAMPLE_WIRE_FORMS[static_cast<std::uint16_t>(*first)];
        store_little_endian(p, entry);
        p += entry >> 24;
    }
    return p;
}

#ifdef PROTOCOLS_SAMPLE_WIRE_SSSE3

// For four samples laid out as 4-byte lanes (byte 0, byte 1, byte 2, 0), the
// shuffle that packs each lane's 1 to 3 bytes one after the other, and the
// packed length. Indexed by two 4-bit masks: bit k of the low nibble says
// sample k takes a second byte (zigzag >= 0x80), of the high nibble a third
// (>= 0x4000).
struct PackPlan {
    alignas(16) std::array<std::uint8_t, 16> shuffle;
    std::uint32_t length;
};

constexpr auto PACK_PLANS = [] {
    std::array<PackPlan, 256> plans{};
    for (std::size_t index = 0; index < plans.size(); ++index) {
        PackPlan plan{};
        plan.shuffle.fill(0x80);  // zero the unused bytes
        std::size_t at = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t bytes = 1 + ((index >> k) & 1) + ((index >> (4 + k)) & 1);
            for (std::size_t b = 0; b < bytes; ++b) {
                plan.shuffle[at++] = static_cast<std::uint8_t>(4 * k + b);
            }
        }
        plan.length = static_cast<std::uint32_t>(at);
        plans[index] = plan;
    }
    return plans;
}();

// Four samples laid out as 4-byte lanes to their packed varints at p; `index`
// selects the plan (see PACK_PLANS).
__attribute__((target("ssse3"))) inline std::uint8_t* pack_four(__m128i lanes, unsigned index,
                                                                std::uint8_t* p) {
    const PackPlan& plan = PACK_PLANS[index];
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(plan.shuffle.data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(lanes, shuffle));
    return p + plan.length;
}

// Eight samples in 16-bit lanes: their first two varint bytes in one lane,
// the third in another, interleaved into the 4-byte lanes of two groups of four.
__attribute__((target("ssse3"))) std::uint8_t* put_eight_at_a_time(const std::int16_t* first,
                                                                   const std::int16_t* last,
                                                                   std::uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low7 = _mm_set1_epi16(0x7F);
    const __m128i next7 = _mm_set1_epi16(0x7F00);
    const __m128i more0 = _mm_set1_epi16(0x80);
    const __m128i more1 = _mm_set1_epi16(static_cast<std::int16_t>(0x8000));
    for (; last - first >= 8; first += 8) {
        const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
        const __m128i z = _mm_xor_si128(_mm_slli_epi16(samples, 1), _mm_srai_epi16(samples, 15));
        const __m128i top = _mm_srli_epi16(z, 14);
        // All ones where a second (third) byte follows: z >= 0x80 (0x4000).
        const __m128i second =
            _mm_xor_si128(_mm_cmpeq_epi16(_mm_srli_epi16(z, 7), zero), _mm_cmpeq_epi16(zero, zero));
        const __m128i third =
            _mm_xor_si128(_mm_cmpeq_epi16(top, zero), _mm_cmpeq_epi16(zero, zero));
        const __m128i low_bytes = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(z, low7), _mm_and_si128(_mm_slli_epi16(z, 1), next7)),
            _mm_or_si128(_mm_and_si128(second, more0), _mm_and_si128(third, more1)));
        // Bits 0-7: a second byte, per sample; bits 8-15: a third.
        const auto flags = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(second, third)));
        p = pack_four(_mm_unpacklo_epi16(low_bytes, top), (flags & 0xF) | ((flags >> 4) & 0xF0), p);
        p = pack_four(_mm_unpackhi_epi16(low_bytes, top),
                      ((flags >> 4) & 0xF) | ((flags >> 8) & 0xF0), p);
    }
    return put_one_by_one(first, last, p);
}

const bool HAS_SSSE3 = cpu_features().ssse3;

#endif

}  // namespace

std::uint8_t* put_sample_wire_forms(const std::int16_t* first, const std::int16_t* last,
                                    std::uint8_t* out) {
#ifdef PROTOCOLS_SAMPLE_WIRE_SSSE3
    if (HAS_SSSE3) return put_eight_at_a_time(first, last, out);
#endif
    return put_one_by_one(first, last, out);
}

}  // namespace protocols
