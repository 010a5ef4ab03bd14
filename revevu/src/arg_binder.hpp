// Matching a call's arguments to a method's parameters, for the fast-call
// convention with keywords. Every parameter is positional-or-keyword; the
// first `required` have no default. The error messages follow the
// interpreter's own wording, each built from one template in arg_binder.cpp.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "process_object.hpp"

namespace revevu {

inline constexpr std::size_t kMaxParameters = 4;

struct Signature {
    const char* full_name;  // "Protocol.add_sine_signal()", the prefix of every message
    std::array<const char*, kMaxParameters> names;
    std::size_t count;     // parameters in use, names[0 .. count)
    std::size_t required;  // the first `required` parameters have no default
};

// The parameter names as interned strings, made on first use, so that keyword
// objects (interned by the compiler) usually match by pointer. One per
// signature, kept for the life of the process.
using InternedNames = std::array<ProcessObject<PyObject>, kMaxParameters>;

using BoundArguments = std::array<PyObject*, kMaxParameters>;

// The general case of bind_arguments below: keywords, or a count that is off.
bool bind_arguments_in_full(const Signature& signature, InternedNames& interned,
                            PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                            BoundArguments& bound);

// Fills bound[i] with the borrowed argument of parameter i, or nullptr for an
// omitted parameter with a default. Returns false with a TypeError set when
// the arguments do not fit. Inline for the common call, positional arguments
// only and enough of them: it runs on every method call.
inline bool bind_arguments(const Signature& signature, InternedNames& interned,
                           PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                           BoundArguments& bound) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs >= static_cast<Py_ssize_t>(signature.required) &&
        nargs <= static_cast<Py_ssize_t>(signature.count)) {
        for (std::size_t i = 0; i < kMaxParameters; ++i) {
            bound[i] = static_cast<Py_ssize_t>(i) < nargs ? args[i] : nullptr;
        }
        return true;
    }
    return bind_arguments_in_full(signature, interned, args, nargsf, kwnames, bound);
}

// The same for the tuple-and-dict convention of tp_new.
bool bind_arguments(const Signature& signature, InternedNames& interned, PyObject* args,
                    PyObject* kwargs, BoundArguments& bound);

}  // namespace revevu
