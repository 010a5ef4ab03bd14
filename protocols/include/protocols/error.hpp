#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

namespace protocols {

// The library's error codes; the code is the variant's position and is stored
// in one byte. Only ConfigError is ever produced (by coil tuning).
enum class VESKError : std::uint8_t {
    OverCoilCurrent,
    OverSupplyPower,
    OverTemperature,
    Underflow,
    SPIError,
    GPIOError,
    I2cError,
    TCPError,
    ConfigError,
    ProtocolError,
    Unintialized,  // sic: the name is part of the text form
};

inline constexpr std::array<std::string_view, 11> veskerror_names = {
    "OverCoilCurrent", "OverSupplyPower", "OverTemperature", "Underflow",
    "SPIError",        "GPIOError",       "I2cError",        "TCPError",
    "ConfigError",     "ProtocolError",   "Unintialized",
};

constexpr std::string_view variant_name(VESKError e) {
    return veskerror_names[static_cast<std::size_t>(e)];
}

// The result of an operation that can fail: a value or a VESKError.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(VESKError error) : state_(error) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    VESKError error() const { return std::get<1>(state_); }

private:
    std::variant<T, VESKError> state_;
};

}  // namespace protocols
