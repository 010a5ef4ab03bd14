#include "protocols/cpu_features.hpp"

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define PROTOCOLS_CPUID 1
#endif

namespace protocols {
namespace {

#ifdef PROTOCOLS_CPUID

struct Registers {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

Registers cpuid(unsigned leaf, unsigned subleaf) {
    Registers r;
    if (!__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx)) return {};
    return r;
}

// The register state the operating system saves on a context switch (XCR0).
std::uint64_t saved_state() {
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

constexpr bool bit(unsigned word, unsigned n) {
    return ((word >> n) & 1U) != 0;
}

CpuFeatures read_features() {
    CpuFeatures f;
    const Registers basic = cpuid(1, 0);
    f.ssse3 = bit(basic.ecx, 9);
    f.popcnt = bit(basic.ecx, 23);
    // AVX registers are usable only when the OS saves them (OSXSAVE, then
    // XCR0's SSE and AVX bits; for AVX-512 also its opmask and upper halves).
    const bool os_saves = bit(basic.ecx, 27);
    const std::uint64_t state = os_saves ? saved_state() : 0;
    const bool ymm = (state & 0x6) == 0x6;
    const bool zmm = ymm && (state & 0xE0) == 0xE0;
    const bool avx = bit(basic.ecx, 28) && ymm;
    const Registers extended = cpuid(7, 0);  // zeros where leaf 7 is missing
    f.avx2 = avx && bit(extended.ebx, 5);
    f.bmi2 = bit(extended.ebx, 8);
    f.avx512f = zmm && bit(extended.ebx, 16);
    f.avx512bw = f.avx512f && bit(extended.ebx, 30);
    f.avx512vbmi = f.avx512f && bit(extended.ecx, 1);
    f.avx512vbmi2 = f.avx512f && bit(extended.ecx, 6);
    return f;
}

#else

CpuFeatures read_features() {
    return {};
}

#endif

}  // namespace

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = read_features();
    return features;
}

}  // namespace protocols
