// Converting Python arguments to the C++ values of a method's parameters.
// Each function returns nullopt with a Python error set on failure. A failed
// conversion whose error is exactly TypeError is reported as a new TypeError
// "argument '<name>': <original text>"; any other error (OverflowError, an
// error escaping a user's __float__) passes unchanged.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace revevu {

// An exact float as is; anything else through the interpreter's float
// conversion (__float__, __index__).
std::optional<double> to_double(PyObject* object, const char* name);

// An int (bool included) as an unsigned 64-bit value; anything else through
// __index__ first. Negative or too large: the interpreter's OverflowError.
std::optional<std::uint64_t> to_u64(PyObject* object, const char* name);

// Exactly True or False, or a NumPy boolean scalar by its truth value.
std::optional<bool> to_bool(PyObject* object, const char* name);

// The UTF-8 text of a str (or subclass). Anything else: the cast TypeError
// naming 'str'; lone surrogates: the interpreter's UnicodeEncodeError. The
// text lives as long as the object.
std::optional<std::string_view> to_utf8(PyObject* object, const char* name);

// Sets the TypeError "argument '<name>': '<type>' object cannot be cast as '<expected>'".
void set_cast_error(PyObject* object, const char* name, const char* expected);

// Sets TypeError "'<type>' object cannot be cast as '<expected>'" (no argument
// name), for a receiver or slot argument of the wrong type.
void set_plain_cast_error(PyObject* object, const char* expected);

}  // namespace revevu
