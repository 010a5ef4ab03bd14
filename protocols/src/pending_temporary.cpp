#include "pending_temporary.hpp"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "protocols/pending_temporary.hpp"

namespace protocols {
namespace {

enum State : int { kFree, kFilling, kSet };

// A signal handler reads these: a lock-free state and plain storage that is
// written only while the state says it is not set.
std::atomic<int> state{kFree};
static_assert(std::atomic<int>::is_always_lock_free);
int pending_directory = AT_FDCWD;
char pending_name[NAME_MAX + 1];

}  // namespace

bool register_pending_temporary(int directory, const char* name) noexcept {
    const std::size_t length = std::strlen(name);
    if (length > NAME_MAX) return false;
    int expected = kFree;
    if (!state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) return false;
    std::memcpy(pending_name, name, length + 1);
    pending_directory = directory;
    state.store(kSet, std::memory_order_release);
    return true;
}

void clear_pending_temporary() noexcept {
    state.store(kFree, std::memory_order_release);
}

void remove_pending_temporary() noexcept {
    if (state.load(std::memory_order_acquire) != kSet) return;
    const int saved = errno;  // a handler leaves errno as it found it
    ::unlinkat(pending_directory, pending_name, 0);
    errno = saved;
}

}  // namespace protocols
