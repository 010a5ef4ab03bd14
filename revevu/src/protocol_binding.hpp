// The glue between the interpreter's calling conventions and the method logic
// of methods::: a method-table entry is one instantiation of fastcall_method
// with its signature, its kind of borrow, its logic and the kind of each
// parameter. Every method thus runs the same steps in the same order: bind the
// arguments, check the receiver, borrow the record, convert the arguments in
// parameter order (the first failure stops, later ones stay unconverted), run.
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "arg_binder.hpp"
#include "conversions.hpp"
#include "enums.hpp"
#include "panic.hpp"
#include "protocol_methods.hpp"
#include "protocol_object.hpp"

namespace revevu {

// How each kind of parameter is converted; `fallback` marks a parameter with a default.
namespace kind {

struct Float {
    static std::optional<double> convert(PyObject* object, const char* name) {
        // Inline for the common case: an optional returned from another
        // unit comes back through memory, a stalled reload per call.
        if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
        return to_double(object, name);
    }
};
// The defaults are whole numbers; an int parameter keeps this usable where
// floating-point template arguments are not (clang before 18).
template <int Default>
struct FloatOr : Float {
    static constexpr double fallback = Default;
};
struct Index {
    static std::optional<std::uint64_t> convert(PyObject* object, const char* name) {
        return to_u64(object, name);
    }
};
template <bool Default>
struct BoolOr {
    static constexpr bool fallback = Default;
    static std::optional<bool> convert(PyObject* object, const char* name) {
        return to_bool(object, name);
    }
};
struct ChannelMember {
    static std::optional<Channel> convert(PyObject* object, const char* name) {
        return to_channel(object, name);
    }
};
struct CoilMember {
    static std::optional<Coil> convert(PyObject* object, const char* name) {
        return to_coil(object, name);
    }
};
struct Text {
    static std::optional<std::string_view> convert(PyObject* object, const char* name) {
        return to_utf8(object, name);
    }
};
struct Samples {
    static std::optional<Float64Vector> convert(PyObject* object, const char* name) {
        return methods::to_samples(object, name);
    }
};

}  // namespace kind

namespace binding_detail {

template <typename Kind>
using Converted = typename decltype(Kind::convert(nullptr, nullptr))::value_type;

// Converts into `slot`; false with a Python error set on failure.
template <typename Kind>
bool convert_into(std::optional<Converted<Kind>>& slot, PyObject* argument, const char* name) {
    if constexpr (requires { Kind::fallback; }) {
        if (argument == nullptr) {
            slot.emplace(Kind::fallback);
            return true;
        }
    }
    auto value = Kind::convert(argument, name);
    if (!value) return false;
    slot.emplace(std::move(*value));
    return true;
}

template <auto Logic, typename... Kinds, typename Call, std::size_t... I>
PyObject* convert_and_run(const Call& call, const BoundArguments& arguments,
                          const Signature& signature, std::index_sequence<I...>) {
    std::tuple<std::optional<Converted<Kinds>>...> values;
    const bool converted =
        (convert_into<Kinds>(std::get<I>(values), arguments[I], signature.names[I]) && ...);
    if (!converted) return nullptr;
    return Logic(call.record().settings, *std::get<I>(values)...);
}

}  // namespace binding_detail

// A METH_FASTCALL | METH_KEYWORDS entry.
template <const Signature& signature, typename Borrow, auto Logic, typename... Kinds>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
    static_assert(sizeof...(Kinds) == signature.count);
    static InternedNames interned{};
    return guarded([&]() -> PyObject* {
        // The arguments stay where the binder put them: copied into the call
        // object, they cost a stalled reload on every call.
        BoundArguments arguments{};
        if (!bind_arguments(signature, interned, args, nargsf, kwnames, arguments)) return nullptr;
        return run_method<Borrow>(self, [&](const MethodCall<Borrow>& call) {
            return binding_detail::convert_and_run<Logic, Kinds...>(
                call, arguments, signature, std::index_sequence_for<Kinds...>{});
        });
    });
}

// A METH_NOARGS entry; the interpreter refuses arguments itself.
template <typename Borrow, auto Logic>
PyObject* noargs_method(PyObject* self, PyObject*) noexcept {
    return guarded([&]() -> PyObject* {
        return run_method<Borrow>(
            self, [](const MethodCall<Borrow>& call) { return Logic(call.record().settings); });
    });
}

}  // namespace revevu
