// The signal methods that take plain numbers. Values are stored exactly as
// converted: no range checks, NaN and infinities included.
#include <utility>
#include <variant>

#include "owned_ref.hpp"
#include "protocol_methods.hpp"

namespace revevu::methods {
namespace {

// Constructs the new signal in place from `args`; inlined into each method, so
// that the short ones build their signal where it is stored, with no variant
// dispatch on a temporary.
template <typename... Args>
PyObject* emplace_signal(Settings& settings, Args&&... args) {
    // The position object is made first, so that a failure leaves the list as it was.
    OwnedRef position = OwnedRef::steal(PyLong_FromSize_t(settings.signals.size()));
    if (!position) return nullptr;
    settings.signals.emplace_back(std::forward<Args>(args)...);
    return position.release();
}

template <typename Params>
PyObject* append_params(Settings& settings, const Params& params) {
    return emplace_signal(settings, std::in_place_type<Params>, params);
}

}  // namespace

PyObject* append_signal(Settings& settings, protocols::Signal&& signal) {
    return emplace_signal(settings, std::move(signal));
}

PyObject* add_constant_signal(Settings& settings, double value) {
    return append_params(settings, protocols::ConstantSignalParams{value});
}

PyObject* add_sine_signal(Settings& settings, double amplitude, double frequency, double phase,
                          double depth) {
    return append_params(settings, protocols::SineSignalParams{amplitude, frequency, phase, depth});
}

PyObject* add_ramp_signal(Settings& settings, double peak, double up_duration,
                          double down_duration) {
    return append_params(settings, protocols::RampSignalParams{peak, up_duration, down_duration});
}

PyObject* add_mixed_signal(Settings& settings, std::uint64_t a_idx, std::uint64_t b_idx) {
    return append_params(settings, protocols::MixedSignalParams{a_idx, b_idx});
}

}  // namespace revevu::methods
