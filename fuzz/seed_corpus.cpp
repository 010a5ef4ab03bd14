// Writes a few encoded protocols into the directory given, as the fuzzer's
// starting corpus: the default file, one with every kind of signal and the
// edge values of each wire type, and one per signal kind; and pairs of them
// joined by the fuzzer's pair mark, which it diffs.
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "pair_mark.hpp"
#include "protocols/encoder.hpp"

using namespace protocols;

namespace {

bool write(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Settings every_edge() {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    Settings s;
    s.running_on_target_machine = true;
    s.machine_config.coils.push_back(Coil("Spule \xC3\xA4\xE2\x86\x92", -0.0, 1e300,
                                          std::numeric_limits<double>::infinity(),
                                          {LCSetting{1.0, 2.0, max, 128}}));
    s.machine_config.possible_capacitances.clear();
    s.intensity = std::numeric_limits<double>::quiet_NaN();
    s.signals = {ConstantSignalParams{-0.25}, SineSignalParams{1.0, 10.0, 0.0, 0.5},
                 RampSignalParams{1.0, 2.0, 3.0}, MixedSignalParams{0, 130},
                 ArbitrarySignalParams{{0, -1, 1, 300, -32768, 32767}}};
    s.channel_a_settings = {true, {0, 0, false}, {1, 0, false}, {2, 1, true}, 1, 200};
    s.channel_b_settings.modulation_source = {max, max, true};
    s.monitor_trace_visible[3] = true;
    s.monitor_subsampling_factor = max;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: seed_corpus DIR\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::pair<std::string, Settings>> seeds;
    seeds.emplace_back("default", Settings());
    seeds.emplace_back("every_edge", every_edge());
    const Signal kinds[] = {ConstantSignalParams{0.5}, SineSignalParams{1.0, 10.0, 0.0, 1.0},
                            RampSignalParams{1.0, 2.0, 3.0}, MixedSignalParams{5, 7},
                            ArbitrarySignalParams{Samples(50, 16384)}};
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        Settings s;
        s.signals = {kinds[i]};
        seeds.emplace_back("signal_kind_" + std::to_string(i), std::move(s));
    }
    // Pairs that differ in a signal's kind, in one flag of a fixed-size list,
    // and in almost everything.
    Settings flag = every_edge();
    flag.monitor_trace_visible[0] = true;
    const std::pair<Settings, Settings> pairs[] = {
        {seeds[2].second, seeds[3].second}, {every_edge(), flag}, {Settings(), every_edge()}};
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& [name, settings] : seeds) files.emplace_back(name, encode_file(settings));
    for (std::size_t i = 0; i < std::size(pairs); ++i) {
        Bytes joined = encode_file(pairs[i].first);
        joined.insert(joined.end(), PAIR_MARK.begin(), PAIR_MARK.end());
        const Bytes second = encode_file(pairs[i].second);
        joined.insert(joined.end(), second.begin(), second.end());
        files.emplace_back("pair_" + std::to_string(i), std::move(joined));
    }
    for (const auto& [name, bytes] : files) {
        if (!write(dir + "/" + name, bytes)) {
            std::perror((dir + "/" + name).c_str());
            return 1;
        }
    }
    return 0;
}
