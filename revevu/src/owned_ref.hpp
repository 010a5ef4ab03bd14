// An owning reference to a Python object, so that every reference a function
// holds is released on every path out of it.
#pragma once

#include <Python.h>

#include <utility>

namespace revevu {

class OwnedRef {
public:
    OwnedRef() = default;

    // Takes over a new reference (a null one included, e.g. a failed call's result).
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Adds a reference of its own to a borrowed object.
    static OwnedRef borrow(PyObject* object) noexcept { return OwnedRef(Py_XNewRef(object)); }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        OwnedRef old(std::exchange(object_, std::exchange(other.object_, nullptr)));
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller; used at a return to Python.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace revevu
