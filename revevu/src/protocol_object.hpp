// The Protocol object: the interpreter's header, the borrow counter and the
// protocol record, held by value.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "borrow.hpp"
#include "critical_section.hpp"
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

// The first steps of every method after binding its arguments: check the
// receiver, borrow its record. The borrow lasts as long as the call object.
template <typename Borrow>
class MethodCall {
public:
    // nullopt with a Python error set when a step fails.
    static std::optional<MethodCall> begin(PyObject* self) {
        ProtocolObject* protocol = as_protocol(self);
        if (protocol == nullptr) return std::nullopt;
        std::optional<Borrow> borrow = Borrow::take(protocol->borrow);
        if (!borrow) return std::nullopt;
        return MethodCall(protocol, std::move(*borrow));
    }

    protocols::Protocol& record() const { return object_->record; }

private:
    MethodCall(ProtocolObject* object, Borrow borrow)
        : object_(object), borrow_(std::move(borrow)) {}

    ProtocolObject* object_;
    Borrow borrow_;
};

// Runs body(call), a method's work on its begun call, inside the receiver's
// critical section: calls on one protocol from several threads take turns, as
// they do under the interpreter lock, so only an overlap that one thread can
// cause (a conversion calling back into the protocol) meets a taken borrow.
template <typename Borrow, typename Body>
PyObject* run_method(PyObject* self, Body&& body) {
    const CriticalSection section(self);
    std::optional<MethodCall<Borrow>> call = MethodCall<Borrow>::begin(self);
    if (!call) return nullptr;
    return body(*call);
}

}  // namespace revevu
