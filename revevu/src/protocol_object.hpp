// The Protocol object: the interpreter's header, the borrow counter and the
// protocol record, held by value.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "arg_binder.hpp"
#include "borrow.hpp"
#include "protocols/settings.hpp"

namespace revevu {

struct ProtocolObject {
    PyObject_HEAD BorrowCounter borrow;
    protocols::Protocol record;  // constructed in place by tp_new, destroyed by tp_dealloc
};

// The class object, created on first use (nullptr with an error set if that fails).
PyTypeObject* protocol_type();

// The receiver as a Protocol, or nullptr with the cast TypeError naming "Protocol".
ProtocolObject* as_protocol(PyObject* self);

// The first steps of every method: bind the arguments, check the receiver,
// borrow its record. The borrow lasts as long as the call object.
template <typename Borrow>
class MethodCall {
public:
    // nullopt with a Python error set when a step fails.
    static std::optional<MethodCall> begin(const Signature& signature, InternedNames& interned,
                                           PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                           PyObject* kwnames) {
        BoundArguments arguments{};
        if (!bind_arguments(signature, interned, args, nargsf, kwnames, arguments)) {
            return std::nullopt;
        }
        std::optional<MethodCall> call = begin(self);
        if (call) call->arguments_ = arguments;
        return call;
    }

    // For a method without parameters.
    static std::optional<MethodCall> begin(PyObject* self) {
        ProtocolObject* protocol = as_protocol(self);
        if (protocol == nullptr) return std::nullopt;
        std::optional<Borrow> borrow = Borrow::take(protocol->borrow);
        if (!borrow) return std::nullopt;
        return MethodCall(protocol, std::move(*borrow));
    }

    protocols::Protocol& record() const { return object_->record; }
    // The argument of parameter i; nullptr for an omitted parameter with a default.
    PyObject* argument(std::size_t i) const { return arguments_[i]; }

private:
    MethodCall(ProtocolObject* object, Borrow borrow)
        : object_(object), borrow_(std::move(borrow)) {}

    ProtocolObject* object_;
    Borrow borrow_;
    BoundArguments arguments_{};
};

}  // namespace revevu
