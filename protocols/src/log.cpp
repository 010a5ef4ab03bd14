#include "protocols/log.hpp"

#include <atomic>

namespace protocols::log {
namespace {

// Atomic so that installing a sink never tears a pointer a reporter is reading.
std::atomic<Sink> installed_sink{nullptr};

}  // namespace

void set_sink(Sink sink) {
    installed_sink.store(sink, std::memory_order_release);
}

void report(Level level, std::string_view target, std::string_view message) {
    if (const Sink sink = installed_sink.load(std::memory_order_acquire)) {
        sink(level, target, message);
    }
}

}  // namespace protocols::log
