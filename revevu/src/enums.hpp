// The enumeration classes Channel and Coil. Each member is one immortal object,
// a class attribute created together with its class; equality and hashing are
// object identity.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <type_traits>

#include "protocols/routing_inputs.hpp"

namespace revevu {

// A member's value is its position among the routing inputs of its kind
// (protocols::INPUTS_OF_KIND): Channel the modulation inputs, Coil the
// amplitude inputs.
enum class Channel : std::uint8_t {};
enum class Coil : std::uint8_t {};

template <typename Enum>
const protocols::RoutingInput& routing_input(Enum member) {
    constexpr auto kind = std::is_same_v<Enum, Coil> ? protocols::InputKind::amplitude
                                                     : protocols::InputKind::modulation;
    return protocols::INPUTS_OF_KIND<kind>[static_cast<std::size_t>(member)];
}

// The class objects, created on first use (nullptr with an error set if that fails).
PyTypeObject* channel_type();
PyTypeObject* coil_type();

// The member of `object`, or nullopt with TypeError "argument '<name>': '<type>'
// object cannot be cast as 'Channel'" (resp. 'Coil'). A member never changes,
// so reading its value takes no borrow: threads passing the same member write
// nothing to it.
std::optional<Channel> to_channel(PyObject* object, const char* name);
std::optional<Coil> to_coil(PyObject* object, const char* name);

}  // namespace revevu
