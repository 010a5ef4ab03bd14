#include "sample_wire_read.hpp"

#include <array>

// On x86-64 the samples are decoded eight lanes at a time with SSSE3's byte
// shuffle when the processor has it (checked once); elsewhere, and near the
// end of the input, one at a time. PROTOCOLS_BASELINE_ONLY builds the scalar
// loop alone (the tests use it to cover that loop on machines with SSSE3).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(PROTOCOLS_BASELINE_ONLY)
#define PROTOCOLS_SAMPLE_READ_SSSE3 1
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

// Eight lanes per step, from a 16-byte load: a step takes the whole varints of
// the 12 bytes its plan covers. The plans are chosen from the continuation
// bits of a 64-byte block, found once per block, so that the chain from one
// step to the next is a shift and a small table load.
__attribute__((target("ssse3"))) SampleRun take_eight_at_a_time(const std::uint8_t* first,
                                                                const std::uint8_t* last,
                                                                std::int16_t* out,
                                                                std::size_t count) {
    constexpr std::size_t BLOCK = 64;
    const __m128i zero = _mm_setzero_si128();
    const __m128i low7 = _mm_set1_epi16(0x7F);
    const __m128i next7 = _mm_set1_epi16(0x3F80);
    const __m128i lead_and_second = _mm_set1_epi16(static_cast<std::int16_t>(0xFF80));
    const __m128i lead_only_continues = _mm_set1_epi16(0x0080);
    const __m128i three = _mm_set1_epi16(3);
    const __m128i one = _mm_set1_epi16(1);
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
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
            const __m128i low = _mm_shuffle_epi8(
                bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(plan.low.data())));
            const __m128i third = _mm_shuffle_epi8(
                bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(plan.third.data())));
            // Refused: no whole varint of at most three bytes; a two-byte one
            // ending in 00 (lead continues, second is zero); a three-byte one
            // whose third byte is 0 or above 3.
            const __m128i overlong_two =
                _mm_cmpeq_epi16(_mm_and_si128(low, lead_and_second), lead_only_continues);
            const __m128i bad_third = _mm_and_si128(
                _mm_srai_epi16(low, 15),
                _mm_or_si128(_mm_cmpeq_epi16(third, zero), _mm_cmpgt_epi16(third, three)));
            if ((step.samples == 0) |
                (_mm_movemask_epi8(_mm_or_si128(overlong_two, bad_third)) != 0)) {
                stopped = true;
                break;
            }
            const __m128i z =
                _mm_or_si128(_mm_or_si128(_mm_and_si128(low, low7),
                                          _mm_and_si128(_mm_srli_epi16(low, 1), next7)),
                             _mm_slli_epi16(third, 14));
            const __m128i value =
                _mm_xor_si128(_mm_srli_epi16(z, 1), _mm_sub_epi16(zero, _mm_and_si128(z, one)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), value);
            i += step.samples;
            offset += step.bytes;
        }
        p += offset;
        if (stopped) break;
    }
    const SampleRun rest = take_one_by_one(p, last, out + i, count - i);
    return {i + rest.samples, static_cast<std::size_t>(p - first) + rest.bytes};
}

const bool HAS_SSSE3 = __builtin_cpu_supports("ssse3");

#endif

}  // namespace

SampleRun take_sample_wire_forms(const std::uint8_t* first, const std::uint8_t* last,
                                 std::int16_t* out, std::size_t count) {
#ifdef PROTOCOLS_SAMPLE_READ_SSSE3
    if (HAS_SSSE3) return take_eight_at_a_time(first, last, out, count);
#endif
    return take_one_by_one(first, last, out, count);
}

}  // namespace protocols
