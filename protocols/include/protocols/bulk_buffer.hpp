// Growing a buffer ahead of a write of many megabytes through a pointer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace protocols {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes)
// with huge pages. Filling hundreds of megabytes of fresh memory is otherwise
// dominated by one page fault per 4 KiB. Only a hint: a refusal changes nothing.
inline void advise_huge_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t end = (start + bytes) & ~(HUGE_PAGE - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// Resizes `buffer` (a std::string or std::vector of trivial elements) to
// `size` elements. When that needs new memory, it is reserved with geometric
// growth and advised, all of its bytes, before the resize first touches it.
template <typename Buffer>
void resize_for_bulk_write(Buffer& buffer, std::size_t size) {
    if (size > buffer.capacity()) {
        buffer.reserve(std::max(size, 2 * buffer.capacity()));
        advise_huge_pages(buffer.data(), buffer.capacity() * sizeof(*buffer.data()));
    }
    buffer.resize(size);
}

}  // namespace protocols
