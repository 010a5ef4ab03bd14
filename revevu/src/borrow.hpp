// The borrow counter that guards an object's data against overlapping use:
// free, shared by n readers, or held by one writer. The only code that can run
// while a method holds it is an argument's own conversion (__float__,
// __index__), which may call back into the same object.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace revevu {

class BorrowCounter {
public:
#ifdef Py_GIL_DISABLED
    bool try_share() noexcept {
        std::intptr_t state = state_.load(std::memory_order_relaxed);
        do {
            if (state == kExclusive) return false;
        } while (!state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire));
        return true;
    }
    bool try_take_exclusive() noexcept {
        std::intptr_t expected = kFree;
        return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire);
    }
    void release_shared() noexcept {
        state_.fetch_sub(1, std::memory_order_release);
    }
#else
    // Every caller holds the interpreter lock, which orders all access to the
    // counter: a plain load and store do, where a locked instruction would
    // cost about as much as the rest of a short method's own work.
    bool try_share() noexcept {
        const std::intptr_t state = state_.load(std::memory_order_relaxed);
        if (state == kExclusive) return false;
        state_.store(state + 1, std::memory_order_relaxed);
        return true;
    }
    bool try_take_exclusive() noexcept {
        if (state_.load(std::memory_order_relaxed) != kFree) return false;
        state_.store(kExclusive, std::memory_order_relaxed);
        return true;
    }
    void release_shared() noexcept {
        state_.store(state_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    }
#endif
    void release_exclusive() noexcept {
        state_.store(kFree, std::memory_order_release);
    }

private:
    static constexpr std::intptr_t kFree = 0;
    static constexpr std::intptr_t kExclusive = -1;

    std::atomic<std::intptr_t> state_{kFree};  // > 0: number of readers
};

// Holds one borrow of a counter and gives it back when it goes.
template <bool Exclusive>
class BorrowGuard {
public:
    // The borrow, or nullopt with the RuntimeError of the conflict set.
    static std::optional<BorrowGuard> take(BorrowCounter& counter) noexcept {
        if constexpr (Exclusive) {
            if (counter.try_take_exclusive()) return BorrowGuard(counter);
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        } else {
            if (counter.try_share()) return BorrowGuard(counter);
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        }
        return std::nullopt;
    }

    BorrowGuard(BorrowGuard&& other) noexcept : counter_(std::exchange(other.counter_, nullptr)) {}
    BorrowGuard& operator=(BorrowGuard&&) = delete;
    BorrowGuard(const BorrowGuard&) = delete;
    ~BorrowGuard() {
        if (counter_ == nullptr) return;
        if constexpr (Exclusive) {
            counter_->release_exclusive();
        } else {
            counter_->release_shared();
        }
    }

private:
    explicit BorrowGuard(BorrowCounter& counter) noexcept : counter_(&counter) {}

    BorrowCounter* counter_;
};

using SharedBorrow = BorrowGuard<false>;
using ExclusiveBorrow = BorrowGuard<true>;

}  // namespace revevu
