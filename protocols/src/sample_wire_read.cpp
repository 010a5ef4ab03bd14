#include "sample_wire_read.hpp"

#include <algorithm>
#include <array>
#include <bit>

#include "protocols/cpu_features.hpp"

// On x86-64 the samples are decoded a 64-byte block at a time, with AVX-512
// VBMI's byte permutes and VBMI2's compression when the processor has them,
// else with AVX2's byte shuffle, else eight lanes at a time with SSSE3's
// (checked once); elsewhere,
// and near the end of the input, one at a time. PROTOCOLS_BASELINE_ONLY builds
// the scalar loop alone, PROTOCOLS_NO_AVX2 leaves out both block loops and
// PROTOCOLS_NO_AVX512 the first of them: the tests use them to cover the
// other loops on machines that have a faster one, and benchmarks to measure
// them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(PROTOCOLS_BASELINE_ONLY)
#define PROTOCOLS_SAMPLE_READ_SSSE3 1
#if !defined(PROTOCOLS_NO_AVX2)
#define PROTOCOLS_SAMPLE_READ_AVX2 1
#if !defined(PROTOCOLS_NO_AVX512)
#define PROTOCOLS_SAMPLE_READ_AVX512 1
#endif
#endif
#include <immintrin.h>
#endif

namespace protocols {
namespace {

inline std::int16_t unzigzag(std::uint32_t z) {
    return static_cast<std::int16_t>((z >> 1) ^ (0u - (z & 1)));
}

// One sample at a time, with the checks spelled out: a varint of more than
// three bytes, a value above 16 bits (a third byte above 3) or a final zero
// byte after others (not the shortest form) stops the run.
SampleRun take_one_by_one(const std::uint8_t* first, const std::uint8_t* last, std::int16_t* out,
                          std::size_t count) {
    const std::uint8_t* p = first;
    std::size_t i = 0;
    for (; i < count && p != last; ++i) {
        const std::uint32_t b0 = p[0];
        if (b0 < 0x80) {
            out[i] = unzigzag(b0);
            p += 1;
            continue;
        }
        if (last - p < 3) break;
        const std::uint32_t b1 = p[1];
        if (b1 < 0x80) {
            if (b1 == 0) break;
            out[i] = unzigzag((b0 & 0x7F) | (b1 << 7));
            p += 2;
            continue;
        }
        const std::uint32_t b2 = p[2];
        if (b2 == 0 || b2 > 3) break;
        out[i] = unzigzag((b0 & 0x7F) | ((b1 & 0x7F) << 7) | (b2 << 14));
        p += 3;
    }
    return {i, static_cast<std::size_t>(p - first)};
}

#ifdef PROTOCOLS_SAMPLE_READ_SSSE3

// The window whose continuation bits select a plan, and the lanes it fills.
constexpr std::size_t BLOCK = 64;  // bytes whose continuation bits are found at once
constexpr std::size_t WINDOW = 12;
constexpr std::size_t LANES = 8;

// For the 12 continuation bits of a window (bit i: byte i has 0x80 set), the
// whole varints of at most three bytes that it starts with, up to eight: two
// shuffles that put each one's first two bytes and its third byte into 16-bit
// lanes (0x80 zeroes a byte), and their count and length. A varint of more
// than three bytes at the start gives no varints, so the run stops there.
struct LanePlan {
    alignas(16) std::array<std::uint8_t, 16> low;    // bytes 0 and 1 of lane k
    alignas(16) std::array<std::uint8_t, 16> third;  // byte 2 of lane k, zero-extended
};

struct PlanStep {
    std::uint8_t samples;
    std::uint8_t bytes;
};

struct Plans {
    std::array<LanePlan, 1u << WINDOW> lanes;
    std::array<PlanStep, 1u << WINDOW> steps;  // apart: the loop's chain reads only these
};

consteval Plans make_plans() {
    Plans plans{};
    for (std::size_t mask = 0; mask < (1u << WINDOW); ++mask) {
        LanePlan lane{};
        lane.low.fill(0x80);
        lane.third.fill(0x80);
        const auto continues = [&](std::size_t at) consteval {
            return ((mask >> at) & 1) != 0;
        };
        std::size_t at = 0, k = 0;
        while (k < LANES) {
            std::size_t length = 1;
            while (at + length - 1 < WINDOW && continues(at + length - 1)) ++length;
            if (length > 3 || at + length > WINDOW) break;  // too long, or ends past the window
            lane.low[2 * k] = static_cast<std::uint8_t>(at);
            if (length >= 2) lane.low[2 * k + 1] = static_cast<std::uint8_t>(at + 1);
            if (length == 3) lane.third[2 * k] = static_cast<std::uint8_t>(at + 2);
            at += length;
            ++k;
        }
        plans.lanes[mask] = lane;
        plans.steps[mask] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(at)};
    }
    return plans;
}

constexpr Plans PLANS = make_plans();

// The continuation bits of 64 bytes at p, bit i for byte i.
__attribute__((target("ssse3"))) inline std::uint64_t continuation_bits(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (unsigned part = 0; part < 4; ++part) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
        bits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(bytes)))
                << (16 * part);
    }
    return bits;
}

// The lanes of one plan over the 16 bytes at p: the samples, and the
// movemask of the lanes that are refused (two bits per lane): a two-byte
// varint ending in 00 (lead continues, second is zero), a three-byte one whose
// third byte is 0 or above 3.
struct Lanes {
    __m128i values;
    int refused;
};

__attribute__((target("ssse3"), always_inline)) inline Lanes decode_lanes(const std::uint8_t* p,
                                                                          const LanePlan& plan) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i low =
        _mm_shuffle_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(plan.low.data())));
    const __m128i third = _mm_shuffle_epi8(
        bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(plan.third.data())));
    const __m128i overlong_two =
        _mm_cmpeq_epi16(_mm_and_si128(low, _mm_set1_epi16(static_cast<std::int16_t>(0xFF80))),
                        _mm_set1_epi16(0x0080));
    const __m128i bad_third = _mm_and_si128(
        _mm_srai_epi16(low, 15),
        _mm_or_si128(_mm_cmpeq_epi16(third, zero), _mm_cmpgt_epi16(third, _mm_set1_epi16(3))));
    const __m128i z =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(low, _mm_set1_epi16(0x7F)),
                                  _mm_and_si128(_mm_srli_epi16(low, 1), _mm_set1_epi16(0x3F80))),
                     _mm_slli_epi16(third, 14));
    const __m128i value = _mm_xor_si128(_mm_srli_epi16(z, 1),
                                        _mm_sub_epi16(zero, _mm_and_si128(z, _mm_set1_epi16(1))));
    return {value, _mm_movemask_epi8(_mm_or_si128(overlong_two, bad_third))};
}

// Eight lanes per step, from a 16-byte load: a step takes the whole varints of
// the 12 bytes its plan covers. The plans are chosen from the continuation
// bits of a 64-byte block, found once per block, so that the chain from one
// step to the next is a shift and a small table load.
__attribute__((target("ssse3"))) SampleRun take_eight_at_a_time(const std::uint8_t* first,
                                                                const std::uint8_t* last,
                                                                std::int16_t* out,
                                                                std::size_t count) {
    const std::uint8_t* p = first;
    std::size_t i = 0;
    // A step at offset <= BLOCK - WINDOW loads 16 bytes: up to BLOCK + 4 past p.
    while (count - i >= LANES && static_cast<std::size_t>(last - p) >= BLOCK + 16) {
        const std::uint64_t continues = continuation_bits(p);
        std::size_t offset = 0;
        bool stopped = false;
        while (offset <= BLOCK - WINDOW && count - i >= LANES) {
            const auto mask = static_cast<unsigned>(continues >> offset) & ((1u << WINDOW) - 1);
            const PlanStep step = PLANS.steps[mask];
            const LanePlan& plan = PLANS.lanes[mask];
            const Lanes lanes = decode_lanes(p + offset, plan);
            if ((step.samples == 0) | (lanes.refused != 0)) {
                stopped = true;
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lanes.values);
            i += step.samples;
            offset += step.bytes;
        }
        p += offset;
        if (stopped) break;
    }
    const SampleRun rest = take_one_by_one(p, last, out + i, count - i);
    return {i + rest.samples, static_cast<std::size_t>(p - first) + rest.bytes};
}

#ifdef PROTOCOLS_SAMPLE_READ_AVX2

// The block loops look at 64 bytes at once through three masks, bit i for
// byte i: 0x80 set (the varint goes on), zero, and above 3 (too large as a
// third byte).
struct BlockMasks {
    std::uint64_t continues;
    std::uint64_t zero;
    std::uint64_t above_three;
};

// For a block that starts at a varint and takes the varints that end in it
// (a varint across its end begins the next block): the starts of those up to
// the one ending at byte `used` - 1, or 0 when one of them is refused: more than three
// bytes, a last byte of 0 after others (not the shortest form), or a third
// byte above 3 (more than 16 bits). The exact reader then takes over at the
// block, decoding what comes before the fault and naming the fault.
inline std::uint64_t starts_of_block(const BlockMasks& m, unsigned used) {
    const std::uint64_t in_use = ~std::uint64_t{0} >> (64 - used);
    const std::uint64_t starts = ((~m.continues << 1) | 1) & in_use;
    const std::uint64_t three = starts & m.continues & (m.continues >> 1);
    const std::uint64_t refused =
        (three & (m.continues >> 2)) | (m.zero & ~starts & in_use) | ((three << 2) & m.above_three);
    return refused == 0 ? starts : 0;
}

constexpr std::size_t CHUNK = 8;  // bytes of a block whose varints one table entry lays out

// For the continuation bits of bytes -1 to 8 of an eight-byte chunk (bit 0
// for byte -1), the shuffle that puts the first byte and, for varints of two
// or three bytes, the second byte of each varint starting in the chunk into
// the 16-bit lanes, in order (0x80 zeroes a byte). The third byte is taken
// from two places further on, wherever the second byte goes on.
consteval auto make_chunk_plans() {
    std::array<std::array<std::uint8_t, 16>, 1u << (CHUNK + 2)> plans{};
    for (std::size_t bits = 0; bits < plans.size(); ++bits) {
        plans[bits].fill(0x80);
        const auto continues = [&](std::size_t at) consteval {
            return ((bits >> (at + 1)) & 1) != 0;
        };
        std::size_t lane = 0;
        for (std::size_t at = 0; at < CHUNK; ++at) {
            if (at > 0 ? continues(at - 1) : (bits & 1) != 0) continue;  // not a start
            plans[bits][2 * lane] = static_cast<std::uint8_t>(at);
            if (continues(at)) plans[bits][2 * lane + 1] = static_cast<std::uint8_t>(at + 1);
            ++lane;
        }
    }
    return plans;
}

alignas(64) constexpr auto CHUNK_PLANS = make_chunk_plans();

__attribute__((target("avx2"), always_inline)) inline std::uint64_t byte_mask(__m256i low,
                                                                              __m256i high) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           (static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high)))
            << 32);
}

__attribute__((target("avx2"), always_inline)) inline BlockMasks block_masks(__m256i low,
                                                                             __m256i high) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i three = _mm256_set1_epi8(3);
    return {byte_mask(low, high),
            byte_mask(_mm256_cmpeq_epi8(low, zero), _mm256_cmpeq_epi8(high, zero)),
            byte_mask(_mm256_cmpgt_epi8(low, three), _mm256_cmpgt_epi8(high, three))};
}

// The samples of two chunks, from the 32 bytes at p: the chunk at p into the
// low eight lanes by plan `low`, the one at p + 16 into the high eight by
// `high`. Lanes past a chunk's varints hold nothing of use.
__attribute__((target("avx2"), always_inline)) inline __m256i decode_chunk_pair(
    const std::uint8_t* p, const std::array<std::uint8_t, 16>& low,
    const std::array<std::uint8_t, 16>& high) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i plan = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low.data()))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(high.data())), 1);
    const __m256i first_two = _mm256_shuffle_epi8(bytes, plan);
    // Two bytes on from each varint's first, where its second byte goes on.
    const __m256i third = _mm256_and_si256(
        _mm256_shuffle_epi8(bytes,
                            _mm256_add_epi8(plan, _mm256_set1_epi16(static_cast<short>(0x8002)))),
        _mm256_srai_epi16(first_two, 15));
    // 7 bits of the first byte, 7 of the second above them, 2 of the third on top.
    const __m256i z = _mm256_or_si256(
        _mm256_maddubs_epi16(_mm256_set1_epi16(static_cast<short>(0x8001)),
                             _mm256_and_si256(first_two, _mm256_set1_epi16(0x7F7F))),
        _mm256_slli_epi16(third, 14));
    return _mm256_xor_si256(
        _mm256_srli_epi16(z, 1),
        _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_and_si256(z, _mm256_set1_epi16(1))));
}

// A 64-byte block at a time, as eight chunks of eight bytes: a table entry,
// chosen by the continuation bits around a chunk, lays out the varints that
// start in it. Each chunk's lanes are stored where the previous chunk's
// samples end, over its unused lanes.
__attribute__((target("avx2,popcnt"))) SampleRun take_chunks_at_a_time(const std::uint8_t* first,
                                                                       const std::uint8_t* last,
                                                                       std::int16_t* out,
                                                                       std::size_t count) {
    // A block reads 72 bytes (its last pair of chunks from byte 40) and
    // writes up to 64 samples and then 8 lanes.
    constexpr std::size_t READ = 72, WRITTEN = BLOCK + 8;
    const std::uint8_t* p = first;
    std::size_t i = 0;
    while (count - i >= WRITTEN && static_cast<std::size_t>(last - p) >= READ) {
        const BlockMasks m =
            block_masks(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
        if (m.continues == ~std::uint64_t{0}) break;  // a varint of more than 64 bytes
        const auto used = static_cast<unsigned>(64 - std::countl_zero(~m.continues));
        const std::uint64_t starts = starts_of_block(m, used);
        if (starts == 0) break;
        // Chunk k's plan: continuation bits of its bytes -1 to 8. Byte -1 of
        // the block ends a varint; byte 64, past it, only matters to a varint
        // across the block's end, which is not taken.
        const auto plan = [&](unsigned k) -> const std::array<std::uint8_t, 16>& {
            const std::uint64_t bits = k == 0 ? m.continues << 1 : m.continues >> (8 * k - 1);
            return CHUNK_PLANS[bits & ((1u << (CHUNK + 2)) - 1)];
        };
        const auto lanes = [&](unsigned k) {
            return static_cast<std::size_t>(std::popcount((starts >> (8 * k)) & 0xFF));
        };
        // Fetches the output's lines ahead of the stores, which would
        // otherwise wait in turn for each line they land on.
        _mm_prefetch(reinterpret_cast<const char*>(out + i) + 512, _MM_HINT_T0);
        for (unsigned half = 0; half < 2; ++half) {
            const unsigned k = 4 * half;  // chunks k to k + 3, in two pairs
            const __m256i even = decode_chunk_pair(p + 8 * k, plan(k), plan(k + 2));
            const __m256i odd = decode_chunk_pair(p + 8 * k + 8, plan(k + 1), plan(k + 3));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(even));
            i += lanes(k);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(odd));
            i += lanes(k + 1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm256_extracti128_si256(even, 1));
            i += lanes(k + 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_extracti128_si256(odd, 1));
            i += lanes(k + 3);
        }
        p += used;
    }
    const SampleRun rest = take_one_by_one(p, last, out + i, count - i);
    return {i + rest.samples, static_cast<std::size_t>(p - first) + rest.bytes};
}

#endif

#ifdef PROTOCOLS_SAMPLE_READ_AVX512

// With AVX-512 VBMI and VBMI2, one 64-byte block after the other, whatever
// the varints' lengths, so that no block waits for the one before: for each
// byte of the block, the sample a varint starting there would give is worked
// out in a 16-bit lane (its first byte, and its second and third bytes where
// the bytes before them go on, gathered by byte permutes), and the lanes of
// the bytes that start a varint are compressed to the output. The block's
// last varint may end in the next block, whose first bytes are looked at for
// it; a block with a refused varint is left to the exact reader from its
// first start.

// Byte permutes that give each lane of a block's first or second half its
// first two bytes, and its third byte in the lane's low byte.
struct PositionBytes {
    alignas(64) std::array<std::uint8_t, 64> first_two[2];
    alignas(64) std::array<std::uint8_t, 64> third[2];
};

consteval PositionBytes make_position_bytes() {
    PositionBytes bytes{};
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t lane = 0; lane < 32; ++lane) {
            const auto at = static_cast<std::uint8_t>(32 * half + lane);  // 64 on: the next block
            bytes.first_two[half][2 * lane] = at;
            bytes.first_two[half][2 * lane + 1] = static_cast<std::uint8_t>(at + 1);
            bytes.third[half][2 * lane] = static_cast<std::uint8_t>(at + 2);
        }
    }
    return bytes;
}

constexpr PositionBytes POSITION_BYTES = make_position_bytes();

// The samples of 32 lanes from their bytes: first and second (zero where the
// first does not go on) and third (zero where the second does not).
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i position_samples(
    __m512i first_two, __m512i third) {
    const __m512i z = _mm512_or_si512(
        _mm512_maddubs_epi16(_mm512_set1_epi16(static_cast<short>(0x8001)),
                             _mm512_and_si512(first_two, _mm512_set1_epi16(0x7F7F))),
        _mm512_slli_epi16(third, 14));
    const __m512i half = _mm512_srli_epi16(z, 1);
    // Zigzag: an odd z is the negative ~(z >> 1), which is -1 - (z >> 1).
    return _mm512_mask_sub_epi16(half, _mm512_test_epi16_mask(first_two, _mm512_set1_epi16(1)),
                                 _mm512_set1_epi16(-1), half);
}

__attribute__((target("avx512f,avx512bw"), always_inline)) inline BlockMasks block_masks(
    __m512i bytes) {
    return {_mm512_movepi8_mask(bytes), _mm512_cmpeq_epi8_mask(bytes, _mm512_setzero_si512()),
            _mm512_cmpgt_epi8_mask(bytes, _mm512_set1_epi8(3))};
}

__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt"))) SampleRun
take_blocks_in_step(const std::uint8_t* first, const std::uint8_t* last, std::int16_t* out,
                    std::size_t count) {
    // A block reads the next one too, and writes two halves of 32 lanes.
    constexpr std::uint64_t EVEN = 0x5555555555555555, ODD = ~EVEN;
    const __m512i first_two_low = _mm512_load_si512(POSITION_BYTES.first_two[0].data());
    const __m512i first_two_high = _mm512_load_si512(POSITION_BYTES.first_two[1].data());
    const __m512i third_low = _mm512_load_si512(POSITION_BYTES.third[0].data());
    const __m512i third_high = _mm512_load_si512(POSITION_BYTES.third[1].data());
    const std::uint8_t* p = first;
    std::size_t i = 0;
    std::uint64_t carried = 0;  // 1 when the byte before p goes on into the block
    if (static_cast<std::size_t>(last - p) >= 2 * BLOCK && count >= BLOCK) {
        __m512i bytes = _mm512_loadu_si512(p);
        BlockMasks m = block_masks(bytes);
        while (static_cast<std::size_t>(last - p) >= 2 * BLOCK && count - i >= BLOCK) {
            const __m512i next_bytes = _mm512_loadu_si512(p + BLOCK);
            const BlockMasks next = block_masks(next_bytes);
            // Bit i: byte i + 1 or i + 2 of the block, the next block's first two past its end.
            const auto ahead = [](std::uint64_t mask, std::uint64_t next_mask, unsigned by) {
                return (mask >> by) | (next_mask << (64 - by));
            };
            const std::uint64_t starts = ~((m.continues << 1) | carried);
            const std::uint64_t two = starts & m.continues;
            const std::uint64_t second_goes_on =
                m.continues & ahead(m.continues, next.continues, 1);
            const std::uint64_t three = starts & second_goes_on;
            // Refused: a two-byte varint ending in 00; a third byte that goes
            // on, is 0 or is above 3.
            const std::uint64_t refused =
                (two & ahead(m.zero, next.zero, 1)) |
                (three & ahead(m.continues | m.zero | m.above_three,
                               next.continues | next.zero | next.above_three, 2));
            if (refused != 0) break;
            const __m512i low = position_samples(
                _mm512_maskz_permutexvar_epi8(EVEN | _pdep_u64(m.continues, ODD), first_two_low,
                                              bytes),
                _mm512_maskz_permutexvar_epi8(_pdep_u64(second_goes_on, EVEN), third_low, bytes));
            const __m512i high = position_samples(
                _mm512_maskz_permutex2var_epi8(EVEN | _pdep_u64(m.continues >> 32, ODD), bytes,
                                               first_two_high, next_bytes),
                _mm512_maskz_permutex2var_epi8(_pdep_u64(second_goes_on >> 32, EVEN), bytes,
                                               third_high, next_bytes));
            const auto low_starts = static_cast<__mmask32>(starts);
            const auto high_starts = static_cast<__mmask32>(starts >> 32);
            _mm512_storeu_si512(out + i, _mm512_maskz_compress_epi16(low_starts, low));
            i += static_cast<std::size_t>(std::popcount(low_starts));
            _mm512_storeu_si512(out + i, _mm512_maskz_compress_epi16(high_starts, high));
            i += static_cast<std::size_t>(std::popcount(high_starts));
            carried = m.continues >> 63;
            m = next;
            bytes = next_bytes;
            p += BLOCK;
        }
    }
    // Past the rest of a varint taken from the block before: its second byte,
    // and its third if the second goes on.
    if (carried != 0) p += 1 + (p[0] >> 7);
    const SampleRun rest = take_one_by_one(p, last, out + i, count - i);
    return {i + rest.samples, static_cast<std::size_t>(p - first) + rest.bytes};
}

#endif

#endif

struct SampleLoop {
    const char* name;
    SampleRun (*take)(const std::uint8_t*, const std::uint8_t*, std::int16_t*, std::size_t);
};

// The fastest loop that this build has and this processor runs.
SampleLoop choose_sample_loop() {
    [[maybe_unused]] const CpuFeatures& cpu = cpu_features();
#ifdef PROTOCOLS_SAMPLE_READ_AVX512
    if (cpu.avx512f && cpu.avx512bw && cpu.avx512vbmi && cpu.avx512vbmi2 && cpu.bmi2) {
        return {"avx512-vbmi2", take_blocks_in_step};
    }
#endif
#ifdef PROTOCOLS_SAMPLE_READ_AVX2
    if (cpu.avx2 && cpu.popcnt) return {"avx2", take_chunks_at_a_time};
#endif
#ifdef PROTOCOLS_SAMPLE_READ_SSSE3
    if (cpu.ssse3) return {"ssse3", take_eight_at_a_time};
#endif
    return {"one at a time", take_one_by_one};
}

// Chosen on first use, not during static initialisation, so that a decoder
// run from another file's static initialisation still gets the fastest loop.
const SampleLoop& chosen_sample_loop() {
    static const SampleLoop loop = choose_sample_loop();
    return loop;
}

}  // namespace

SampleRun take_sample_wire_forms(const std::uint8_t* first, const std::uint8_t* last,
                                 std::int16_t* out, std::size_t count) {
    return chosen_sample_loop().take(first, last, out, count);
}

const char* sample_loop_name() {
    return chosen_sample_loop().name;
}

}  // namespace protocols
