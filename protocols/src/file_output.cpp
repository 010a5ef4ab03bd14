#include "protocols/file_output.hpp"

#include <fcntl.h>
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

namespace {

// Written bytes are handed to the disk in runs of this size while the rest is
// still being made, so that the flush at the end waits for the last run only.
constexpr std::uint64_t kWritebackRun = std::uint64_t{8} << 20;

}  // namespace

MaybeError write_content(int fd, const Content& content) {
    MaybeError error;
    std::uint64_t written = 0, handed_over = 0;
    content([&](std::span<const std::uint8_t> piece) {
        error = write_all(fd, piece);
        written += piece.size();
        if (!error && written - handed_over >= kWritebackRun) {
            // A hint: a file that cannot take it (a pipe, a device) refuses it
            // harmlessly, and the flush makes the data durable either way.
            ::sync_file_range(fd, static_cast<off_t>(handed_over),
                              static_cast<off_t>(written - handed_over), SYNC_FILE_RANGE_WRITE);
            handed_over = written;
        }
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
