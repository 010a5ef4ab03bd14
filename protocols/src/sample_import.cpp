#include "protocols/sample_import.hpp"

#include <bit>
#include <cstring>

#include "protocols/bulk_buffer.hpp"
#include "protocols/signals.hpp"

// On x86-64 the block loop is built twice, for the SSE2 baseline and for
// AVX2, and the first call picks one. Both are the same plain loops, vectorised
// by the compiler; with SSE2 they are bound by instruction count rather than by
// memory, and AVX2 halves that count. Contiguous samples, the usual case, also
// have a loop of their own written with AVX2 intrinsics: the check and the
// quantisation in one pass, which GCC does not vectorise as plain code.
// PROTOCOLS_BASELINE_ONLY builds the baseline alone, so that tests can cover
// it on machines that would pick AVX2.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(PROTOCOLS_BASELINE_ONLY)
#define PROTOCOLS_SAMPLE_IMPORT_AVX2 1
#include <immintrin.h>

#include "protocols/cpu_features.hpp"
#endif

namespace protocols {
namespace {

// Samples are handled in blocks of this many doubles (4 KiB): small enough to
// stay in L1 between the range pass and the quantising pass, and a fixed trip
// count lets GCC vectorise both passes without scalar epilogues, even at -O2.
constexpr std::size_t kBlock = 512;
constexpr std::size_t kBlockBytes = kBlock * sizeof(double);

constexpr double kSampleScale = 32767.0;

// Just below 0.5: trunc(y + kHalfDown) rounds y >= 0 to nearest with halves
// away from zero. With 0.5 itself, y = 0.49999999999999994 would fail, as the
// sum rounds up to 1.0; with this constant, y + kHalfDown reaches the next
// integer only when y is at or above the half (y = n + 0.5 ties upwards, to
// the even n + 1 for n = 0, and is nearer to it for every larger n).
constexpr double kHalfDown = 0.49999999999999994;

constexpr std::uint64_t kAllBits = ~std::uint64_t{0};

// Arrays need not be aligned to 8 bytes, so every read goes through memcpy.
[[gnu::always_inline]] inline double load(const std::byte* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Whether x lies in [0.0, 1.0] (-0.0 included): x * (1 - x) is negative for
// every other finite or infinite x (the exact product's sign survives rounding,
// and its magnitude is never below |x| or 2^-52, so it cannot underflow to
// zero) and NaN for NaN. One comparison covers both bounds.
[[gnu::always_inline]] inline bool in_unit_range(double x) {
    return x * (1.0 - x) >= 0.0;
}

// True when all kBlock doubles read `stride` bytes apart from `src` lie in
// [0.0, 1.0]; with Copy, also stores them contiguously in `copy`, so that
// strided data is read once. The comparison selects a double whose bits are
// AND-ed: a form that GCC vectorises for SSE2 even at -O2, where a bool or
// integer select would not.
template <bool Copy>
[[gnu::always_inline]] inline bool block_in_range(const std::byte* src, std::ptrdiff_t stride,
                                                  std::byte* __restrict copy) {
    constexpr double kAccept = std::bit_cast<double>(kAllBits);
    std::uint64_t accepted = kAllBits;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const double x = load(src + static_cast<std::ptrdiff_t>(i) * stride);
        if constexpr (Copy) std::memcpy(copy + 8 * i, &x, sizeof x);
        accepted &= std::bit_cast<std::uint64_t>(in_unit_range(x) ? kAccept : 0.0);
    }
    return accepted == kAllBits;
}

// quantise_sample() for kBlock contiguous doubles already known to lie in
// [0.0, 1.0], so that y lies in [0, 32767] and converts without overflow.
[[gnu::always_inline]] inline void quantise_block(const std::byte* __restrict src,
                                                  std::int16_t* __restrict out) {
    for (std::size_t i = 0; i < kBlock; ++i) {
        const double y = load(src + 8 * i) * kSampleScale;
        out[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(y + kHalfDown));
    }
}

// The fast pass over whole blocks, without a per-element early exit: checks a
// block (copying strided data into a contiguous buffer), then quantises it
// from L1. Returns the number of blocks done: less than block_count when a
// block holds an offender.
[[gnu::always_inline]] inline std::size_t import_blocks_body(const std::byte* data,
                                                             std::ptrdiff_t stride,
                                                             std::size_t block_count,
                                                             std::int16_t* out) {
    constexpr auto kContiguous = static_cast<std::ptrdiff_t>(sizeof(double));
    alignas(32) std::byte buffer[kBlockBytes];
    for (std::size_t b = 0; b < block_count; ++b) {
        const std::byte* src = data + static_cast<std::ptrdiff_t>(b * kBlock) * stride;
        if (stride == kContiguous) {
            if (!block_in_range<false>(src, kContiguous, nullptr)) return b;
        } else {
            if (!block_in_range<true>(src, stride, buffer)) return b;
            src = buffer;
        }
        quantise_block(src, out + b * kBlock);
    }
    return block_count;
}

#ifdef PROTOCOLS_SAMPLE_IMPORT_AVX2

// import_blocks_body for contiguous doubles, 16 a step. The range is checked on
// m = x * 32767.0, which the quantisation computes anyway: rounding is
// monotonic and keeps the sign, and 32767.0 is exact, so m lies in [0, 32767]
// exactly when x lies in [0, 1] (NaN fails both comparisons). An offender
// converts to whatever the instruction gives for it (the integer indefinite
// value for NaN and out-of-range values, saturated by the pack): its block is
// refused and redone exactly, so nothing of it stays.
__attribute__((target("avx2"))) std::size_t import_contiguous_blocks(const std::byte* data,
                                                                     std::size_t block_count,
                                                                     std::int16_t* out) {
    const __m256d scale = _mm256_set1_pd(kSampleScale);
    const __m256d half_down = _mm256_set1_pd(kHalfDown);
    const __m256d zero = _mm256_setzero_pd();
    for (std::size_t b = 0; b < block_count; ++b) {
        const auto* src = reinterpret_cast<const double*>(data) + b * kBlock;
        std::int16_t* const dst = out + b * kBlock;
        __m256d accepted = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        for (std::size_t i = 0; i < kBlock; i += 16) {
            __m128i quantised[4];
            for (std::size_t k = 0; k < 4; ++k) {
                const __m256d m = _mm256_mul_pd(_mm256_loadu_pd(src + i + 4 * k), scale);
                const __m256d in_range = _mm256_and_pd(_mm256_cmp_pd(m, zero, _CMP_GE_OQ),
                                                       _mm256_cmp_pd(m, scale, _CMP_LE_OQ));
                accepted = _mm256_and_pd(accepted, in_range);
                quantised[k] = _mm256_cvttpd_epi32(_mm256_add_pd(m, half_down));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             _mm_packs_epi32(quantised[0], quantised[1]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8),
                             _mm_packs_epi32(quantised[2], quantised[3]));
        }
        if (_mm256_movemask_pd(accepted) != 0xF) return b;
    }
    return block_count;
}

// The plain block loop, compiled for AVX2.
__attribute__((target("avx2"))) std::size_t import_blocks_avx2(const std::byte* data,
                                                               std::ptrdiff_t stride,
                                                               std::size_t block_count,
                                                               std::int16_t* out) {
    return import_blocks_body(data, stride, block_count, out);
}

const bool HAS_AVX2 = cpu_features().avx2;

#endif

// The fast pass, by layout and processor.
std::size_t import_fast(const std::byte* data, std::ptrdiff_t stride, std::size_t block_count,
                        std::int16_t* out) {
#ifdef PROTOCOLS_SAMPLE_IMPORT_AVX2
    if (HAS_AVX2) {
        if (stride == static_cast<std::ptrdiff_t>(sizeof(double))) {
            return import_contiguous_blocks(data, block_count, out);
        }
        return import_blocks_avx2(data, stride, block_count, out);
    }
#endif
    return import_blocks_body(data, stride, block_count, out);
}

inline SampleFault fault_of(double x) {
    if (!(x >= 0.0)) return SampleFault::BelowZero;
    if (!(x <= 1.0)) return SampleFault::AboveOne;
    return SampleFault::None;
}

// The exact, ordered pass: checks and quantises one element at a time and
// stops at the first offender. Used for the tail and for a block that the
// fast pass found faulty.
SampleFault import_one_by_one(const std::byte* data, std::ptrdiff_t stride, std::size_t count,
                              std::int16_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const double x = load(data + static_cast<std::ptrdiff_t>(i) * stride);
        if (const SampleFault fault = fault_of(x); fault != SampleFault::None) return fault;
        out[i] = quantise_sample(x);
    }
    return SampleFault::None;
}

// Every element is the same double: one check, one quantisation, a fill.
SampleFault import_repeated(const std::byte* data, std::size_t count, std::int16_t* out) {
    const double x = load(data);
    if (const SampleFault fault = fault_of(x); fault != SampleFault::None) return fault;
    const std::int16_t value = quantise_sample(x);
    for (std::size_t i = 0; i < count; ++i) out[i] = value;
    return SampleFault::None;
}

}  // namespace

Samples new_sample_array(std::size_t count) {
    Samples samples;
    resize_for_bulk_write(samples, count);
    return samples;
}

SampleFault import_samples(const std::byte* data, std::ptrdiff_t stride, std::size_t count,
                           std::int16_t* out) {
    if (count == 0) return SampleFault::None;
    if (stride == 0) return import_repeated(data, count, out);

    const auto at = [&](std::size_t index) {
        return data + static_cast<std::ptrdiff_t>(index) * stride;
    };
    const std::size_t whole = count / kBlock * kBlock;
    std::size_t start = 0;
    while (start < whole) {
        start += import_fast(at(start), stride, (whole - start) / kBlock, out + start) * kBlock;
        if (start == whole) break;
        // The fast pass stopped at this block: find its first offender exactly.
        const SampleFault fault = import_one_by_one(at(start), stride, kBlock, out + start);
        if (fault != SampleFault::None) return fault;
        start += kBlock;
    }
    return import_one_by_one(at(start), stride, count - start, out + start);
}

}  // namespace protocols
