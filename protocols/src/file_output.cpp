#include "protocols/file_output.hpp"

#include <unistd.h>

#include <cerrno>

namespace protocols {
MaybeError write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return FileError::os(errno);
        }
        if (written == 0) return kWriteZero;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

MaybeError write_content(int fd, const Content& content) {
    MaybeError error;
    content([&](std::span<const std::uint8_t> piece) {
        error = write_all(fd, piece);
        return !error;
    });
    return error;
}

int flush_file(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

}  // namespace protocols
