#include "file_output.hpp"

#include <unistd.h>

#include <cerrno>

#include "file_errors.hpp"

namespace revevu {
namespace {

MaybeError write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return describe_os_error(errno);
        }
        if (written == 0) return describe_error("WriteZero", "failed to write whole buffer");
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

}  // namespace

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

}  // namespace revevu
