// The enumeration classes Channel and Coil. Each member is one immortal object,
// a class attribute created together with its class; equality and hashing are
// object identity.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

#include "borrow.hpp"

namespace revevu {

enum class Channel : std::uint8_t { A = 0, B = 1 };
enum class Coil : std::uint8_t { A1 = 0, A2 = 1, B1 = 2, B2 = 3 };

// The class objects, created on first use (nullptr with an error set if that fails).
PyTypeObject* channel_type();
PyTypeObject* coil_type();

// A member argument, held shared for as long as the method that received it runs.
template <typename Enum>
struct MemberArgument {
    Enum value;
    SharedBorrow borrow;
};

// The member of `object`, or nullopt with TypeError "argument '<name>': '<type>'
// object cannot be cast as 'Channel'" (resp. 'Coil').
std::optional<MemberArgument<Channel>> to_channel(PyObject* object, const char* name);
std::optional<MemberArgument<Coil>> to_coil(PyObject* object, const char* name);

}  // namespace revevu
