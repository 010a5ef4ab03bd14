// An owned file descriptor and the retrying open that saving uses. Plain
// C++ and POSIX; no Python here.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace protocols {

// Closes on destruction; close errors are seen only through close_checked().
// May also hold AT_FDCWD, which is never closed.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        FileDescriptor old(std::exchange(fd_, std::exchange(other.fd_, -1)));
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

    // 0, or the error number of a failed close. Linux releases the descriptor
    // even when close fails, EINTR included, so it is never retried; only a
    // real error (EIO on a network file system) counts.
    int close_checked() {
        if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return errno;
        return 0;
    }

private:
    int fd_;
};

// openat, close-on-exec, retried while a signal interrupts it.
inline int open_at(int directory, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(directory, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace protocols
