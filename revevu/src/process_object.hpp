// An object made on first use and kept for the life of the process (a class,
// an exception type, an interned name). Threads that get there together may
// each make one; the first to publish it wins and the others drop theirs, so
// every caller sees the one object and none waits on a lock the interpreter
// does not know of.
#pragma once

#include <Python.h>

#include <atomic>

#include "owned_ref.hpp"

namespace revevu {

template <typename T>
class ProcessObject {
public:
    // The object, made by `make` (a new reference, or nullptr with an error
    // set) when there is none yet.
    template <typename Make>
    T* get(Make&& make) noexcept {
        T* object = object_.load(std::memory_order_acquire);
        if (object != nullptr) return object;
        OwnedRef made = OwnedRef::steal(reinterpret_cast<PyObject*>(make()));
        if (!made) return nullptr;
        T* expected = nullptr;
        if (!object_.compare_exchange_strong(expected, reinterpret_cast<T*>(made.get()),
                                             std::memory_order_acq_rel)) {
            return expected;  // another thread's, published first; ours goes
        }
        return reinterpret_cast<T*>(made.release());
    }

private:
    std::atomic<T*> object_{nullptr};
};

}  // namespace revevu
