// One parameter that takes a value of any of a fixed list of types, so that
// a function with one definition serves each of them without an overload per
// type. It refers to the argument (a temporary included: it lives as long as
// the call it is passed to) and admits exactly the listed types.
#pragma once

#include <concepts>
#include <variant>

namespace protocols {

template <typename... Ts>
class OneOf {
public:
    template <typename T>
    requires(std::same_as<T, Ts> || ...) OneOf(const T& value)
        : value_(&value) {}  // NOLINT: converts implicitly, as an overload would

    // Calls visit(value) with the value as its own type.
    template <typename Visit>
    decltype(auto) visit(Visit&& visit) const {
        return std::visit([&](const auto* value) -> decltype(auto) { return visit(*value); },
                          value_);
    }

private:
    std::variant<const Ts*...> value_;
};

}  // namespace protocols
