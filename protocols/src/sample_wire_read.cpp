#include "sample_wire_read.hpp"

#include <algorithm>
#include <array>

// On x86-64 the samples are decoded a 64-byte block at a time with AVX-512
// VBMI2's byte compression when the processor has it, else eight lanes at a
// time with SSSE3's byte shuffle (checked once); elsewhere, and near the end
// of the input, one at a time. PROTOCOLS_BASELINE_ONLY builds the scalar loop
// alone, PROTOCOLS_NO_AVX512 leaves out the block loop (the tests use them to
// cover the other loops on machines that have the faster one).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(PROTOCOLS_BASELINE_ONLY)
#define PROTOCOLS_SAMPLE_READ_SSSE3 1
#if !defined(PROTOCOLS_NO_AVX512)
#define PROTOCOLS_SAMPLE_READ_AVX512 1
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

constexpr Plans make_plans() {
    Plans plans{};
    for (std::size_t mask = 0; mask < (1u << WINDOW); ++mask) {
        LanePlan lane{};
        lane.low.fill(0x80);
        lane.third.fill(0x80);
        const auto continues = [&](std::size_t at) { return ((mask >> at) & 1) != 0; };
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

#ifdef PROTOCOLS_SAMPLE_READ_AVX512

// With AVX-512 VBMI2, every whole varint of a 64-byte block at once: the
// bytes at the varints' starts are compressed into lanes in varint order, and
// so are their second and third bytes, each then expanded back to the lanes
// of the varints that have one (a bit extract of the continuation bits at the
// starts says which). At most 32 varints per block, the lanes of one register
// of 16-bit values. A block with a varint of more than three bytes, or with
// one that decodes to nothing valid, is left to the exact reader.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes _mm256_undefined_si256 inside _mm512_castsi512_si256 for a
// read of an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt"))) SampleRun
take_block_at_a_time(const std::uint8_t* first, const std::uint8_t* last, std::int16_t* out,
                     std::size_t count) {
    constexpr std::size_t MOST = 32;  // varints per block: one register of 16-bit lanes
    const __m512i zero = _mm512_setzero_si512();
    const std::uint8_t* p = first;
    std::size_t i = 0;
    while (i < count && static_cast<std::size_t>(last - p) >= BLOCK) {
        const __m512i bytes = _mm512_loadu_si512(p);
        const std::uint64_t continues = _mm512_movepi8_mask(bytes);
        const std::uint64_t ends = ~continues;
        const std::size_t whole = std::min<std::size_t>(
            {static_cast<std::size_t>(_mm_popcnt_u64(ends)), MOST, count - i});
        if (whole == 0) break;  // a varint of more than 64 bytes
        // The block's first `whole` varints: their bytes and their starts.
        const std::size_t used = _tzcnt_u64(_pdep_u64(std::uint64_t{1} << (whole - 1), ends)) + 1;
        const std::uint64_t in_use =
            used == BLOCK ? ~std::uint64_t{0} : (std::uint64_t{1} << used) - 1;
        const std::uint64_t starts = ((ends << 1) | 1) & in_use;
        const std::uint64_t two = starts & continues;        // varints of 2 or more bytes
        const std::uint64_t three = two & (continues >> 1);  // of 3 or more
        if ((three & (continues >> 2)) != 0) break;          // of 4 or more
        const __m512i b0 = _mm512_maskz_compress_epi8(starts, bytes);
        const __m512i b1 = _mm512_maskz_expand_epi8(_pext_u64(continues, starts),
                                                    _mm512_maskz_compress_epi8(two << 1, bytes));
        const __m512i b2 = _mm512_maskz_expand_epi8(_pext_u64(continues & (continues >> 1), starts),
                                                    _mm512_maskz_compress_epi8(three << 2, bytes));
        const __m512i w0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b0));
        const __m512i w1 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b1));
        const __m512i w2 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b2));
        // Refused: a two-byte varint ending in 00; a three-byte one whose third
        // byte is 0 or above 3 (more than 16 bits).
        const auto lanes = static_cast<__mmask32>((std::uint64_t{1} << whole) - 1);
        const auto of_two = static_cast<__mmask32>(_pext_u64(continues, starts));
        const auto of_three =
            static_cast<__mmask32>(_pext_u64(continues & (continues >> 1), starts));
        const __mmask32 refused = (_mm512_cmpeq_epi16_mask(w1, zero) & of_two & ~of_three) |
                                  ((_mm512_cmpeq_epi16_mask(w2, zero) |
                                    _mm512_cmpgt_epu16_mask(w2, _mm512_set1_epi16(3))) &
                                   of_three);
        if ((refused & lanes) != 0) break;
        const __m512i z = _mm512_or_si512(
            _mm512_or_si512(_mm512_and_si512(w0, _mm512_set1_epi16(0x7F)),
                            _mm512_slli_epi16(_mm512_and_si512(w1, _mm512_set1_epi16(0x7F)), 7)),
            _mm512_slli_epi16(w2, 14));
        const __m512i value =
            _mm512_xor_si512(_mm512_srli_epi16(z, 1),
                             _mm512_sub_epi16(zero, _mm512_and_si512(z, _mm512_set1_epi16(1))));
        _mm512_mask_storeu_epi16(out + i, lanes, value);
        p += used;
        i += whole;
    }
    const SampleRun rest = take_one_by_one(p, last, out + i, count - i);
    return {i + rest.samples, static_cast<std::size_t>(p - first) + rest.bytes};
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

const bool HAS_AVX512_VBMI2 =
    __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
    __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");

#endif

const bool HAS_SSSE3 = __builtin_cpu_supports("ssse3");

#endif

}  // namespace

SampleRun take_sample_wire_forms(const std::uint8_t* first, const std::uint8_t* last,
                                 std::int16_t* out, std::size_t count) {
#ifdef PROTOCOLS_SAMPLE_READ_AVX512
    if (HAS_AVX512_VBMI2) return take_block_at_a_time(first, last, out, count);
#endif
#ifdef PROTOCOLS_SAMPLE_READ_SSSE3
    if (HAS_SSSE3) return take_eight_at_a_time(first, last, out, count);
#endif
    return take_one_by_one(first, last, out, count);
}

}  // namespace protocols
