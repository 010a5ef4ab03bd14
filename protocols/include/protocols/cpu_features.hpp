#pragma once

// The x86-64 extensions that the sample loops choose between, as this
// processor and its operating system support them. Read from CPUID (and, for
// the AVX registers, from XGETBV) rather than through the compiler's runtime:
// a runtime linked in statically need not fill in the processor model that
// __builtin_cpu_supports and target_clones read, and then every check says no.
// Everywhere but x86-64 all are false, and the portable loops run.

namespace protocols {

struct CpuFeatures {
    bool ssse3 = false;
    bool popcnt = false;
    bool avx2 = false;
    bool bmi2 = false;
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vbmi = false;
    bool avx512vbmi2 = false;
};

// Read once, on first use (safe from any static initialiser).
const CpuFeatures& cpu_features();

}  // namespace protocols
