// A levelled diagnostic log with targets. Silent unless the embedding program
// installs a sink; this library never does.
#pragma once

#include <string_view>

namespace protocols::log {

enum class Level { Error, Warn, Info, Debug, Trace };

using Sink = void (*)(Level level, std::string_view target, std::string_view message);

// Installs `sink` (nullptr turns the log off again). Not thread-safe against
// concurrent reports; install it before use.
void set_sink(Sink sink);

void report(Level level, std::string_view target, std::string_view message);

}  // namespace protocols::log
