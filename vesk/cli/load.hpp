// Reading a protocol file from disk into a record, with one-line errors.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocols/settings.hpp"

namespace vesk {

// Exit statuses shared by every command.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FINDINGS = 1;  // `check` found something to report
inline constexpr int EXIT_ERROR = 2;     // usage error, unreadable or invalid file
inline constexpr int EXIT_INTERNAL = 3;  // the decoder and the encoder disagree

struct Loaded {
    protocols::Settings settings;
};

// Reads and decodes `path`. On failure prints "vesk: PATH: ..." to standard
// error and returns false with `exit_status` set.
bool load_protocol(const std::string& path, Loaded& out, int& exit_status);

// Whether `settings` encodes to exactly `file`: the check load_protocol makes
// of every record it decodes, which fails only if the decoder is not the
// encoder's exact inverse.
bool reencodes_to(const protocols::Settings& settings, std::span<const std::uint8_t> file);

}  // namespace vesk
