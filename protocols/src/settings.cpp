#include "protocols/settings.hpp"

#include <cstdlib>

#include "protocols/utf8.hpp"

namespace protocols {

bool read_running_on_target_machine() {
    // Any value counts, even "" or "false"; only a value that is not text does not.
    const char* value = std::getenv("VESK_TARGET_MACHINE");
    return value != nullptr && is_valid_utf8(value);
}

std::vector<Signal> default_signals() {
    return {Signal{ConstantSignalParams{0.0}}};
}

Settings::Settings()
    : running_on_target_machine(read_running_on_target_machine()), signals(default_signals()) {
    channel_a_settings.enabled = true;
}

}  // namespace protocols
