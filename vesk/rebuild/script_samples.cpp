#include "script_samples.hpp"

#include <span>
#include <string_view>
#include <variant>

#include "npz_writer.hpp"
#include "script_text.hpp"

namespace vesk {

using namespace protocols;

bool write_stored_samples(const Settings& settings, const std::vector<std::uint64_t>& signals,
                          const std::vector<std::uint32_t>& crcs, const TextSink& write) {
    NpzWriter npz(write);
    for (std::size_t i = 0; i < signals.size(); ++i) {
        const auto& params = std::get<ArbitrarySignalParams>(settings.signals[signals[i]]);
        if (!npz.add(npz_array_name(signals[i]), std::span(params.samples), crcs[i])) return false;
    }
    return npz.finish();
}

std::string npz_path_beside(const std::string& out) {
    const std::size_t slash = out.rfind('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(out).substr(name_start);
    if (name.empty() || name == "." || name == "..") return {};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return out + ".npz";
    if (dot == name.size() - 1) return {};  // "out.": no suffix before 3.14, "." from it on
    if (name.find_first_not_of('.') > dot) return {};  // "..py": "." is no stem from 3.14 on
    return out.substr(0, name_start + dot) + ".npz";
}

}  // namespace vesk
