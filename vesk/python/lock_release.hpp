// Long work on plain C++ data runs with the interpreter lock released, so
// that other Python threads go on meanwhile; short work keeps it.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>

namespace vesk::python {

// Shorter inputs take less time than handing the lock over and taking it back.
inline constexpr std::size_t RELEASE_LOCK_FROM = std::size_t{1} << 16;

// Runs `work`, which touches no Python object, without the interpreter lock
// when `size` (bytes or elements of its input) is at least RELEASE_LOCK_FROM.
template <typename Work>
void run_released_if_long(std::size_t size, Work&& work) {
    if (size >= RELEASE_LOCK_FROM) {
        nanobind::gil_scoped_release released;
        work();
    } else {
        work();
    }
}

}  // namespace vesk::python
