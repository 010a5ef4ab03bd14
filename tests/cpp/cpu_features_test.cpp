#include "protocols/cpu_features.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

// The flags the kernel lists for the first processor; empty where there are
// none (not x86, or no /proc).
std::set<std::string> kernel_flags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string w; words >> w;) flags.insert(w);
        return flags;
    }
    return {};
}

// What CPUID and XGETBV say matches what the kernel found (it hides the AVX
// flags too when it does not save their registers); elsewhere nothing is
// detected.
TEST(CpuFeatures, AgreeWithTheKernel) {
    const auto flags = kernel_flags();
    const auto& cpu = protocols::cpu_features();
#if defined(__x86_64__)
    ASSERT_FALSE(flags.empty()) << "no flags line in /proc/cpuinfo";
    const std::pair<const char*, bool> expected[] = {
        {"ssse3", cpu.ssse3},
        {"popcnt", cpu.popcnt},
        {"avx2", cpu.avx2},
        {"bmi2", cpu.bmi2},
        {"avx512f", cpu.avx512f},
        {"avx512bw", cpu.avx512bw},
        {"avx512vbmi", cpu.avx512vbmi},
        {"avx512_vbmi2", cpu.avx512vbmi2},
    };
    for (const auto& [flag, detected] : expected) {
        EXPECT_EQ(flags.count(flag) == 1, detected) << flag;
    }
#else
    (void)flags;  // the portable loops only
    EXPECT_FALSE(cpu.ssse3 || cpu.popcnt || cpu.avx2 || cpu.bmi2 || cpu.avx512f);
#endif
}

}  // namespace
