// The signal methods that take plain numbers. Values are stored exactly as
// converted: no range checks, NaN and infinities included.
#include "owned_ref.hpp"
#include "protocol_methods.hpp"

namespace revevu::methods {

PyObject* append_signal(Settings& settings, protocols::Signal&& signal) {
    // The position object is made first, so that a failure leaves the list as it was.
    OwnedRef position = OwnedRef::steal(PyLong_FromSize_t(settings.signals.size()));
    if (!position) return nullptr;
    settings.signals.push_back(std::move(signal));
    return position.release();
}

PyObject* add_constant_signal(Settings& settings, double value) {
    return append_signal(settings, protocols::ConstantSignalParams{value});
}

PyObject* add_sine_signal(Settings& settings, double amplitude, double frequency, double phase,
                          double depth) {
    return append_signal(settings, protocols::SineSignalParams{amplitude, frequency, phase, depth});
}

PyObject* add_ramp_signal(Settings& settings, double peak, double up_duration,
                          double down_duration) {
    return append_signal(settings, protocols::RampSignalParams{peak, up_duration, down_duration});
}

PyObject* add_mixed_signal(Settings& settings, std::uint64_t a_idx, std::uint64_t b_idx) {
    return append_signal(settings, protocols::MixedSignalParams{a_idx, b_idx});
}

}  // namespace revevu::methods
