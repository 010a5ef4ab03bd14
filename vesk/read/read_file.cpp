#include "read_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "protocols/bulk_buffer.hpp"

namespace vesk {
namespace {

constexpr std::size_t FIRST_READ = std::size_t{1} << 16;  // what is not a regular file

}  // namespace

// Into a buffer of the expected size plus one byte, so that the read that
// finds the end needs no growth.
int read_to_end(int fd, std::size_t expected, FileBytes& out) {
    protocols::resize_for_bulk_write(out, expected > 0 ? expected + 1 : FIRST_READ);
    std::size_t used = 0;
    int error = 0;
    for (;;) {
        if (used == out.size()) protocols::resize_for_bulk_write(out, 2 * out.size());
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n > 0) {
            used += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    out.resize(used);
    return error;
}

int read_whole_file(int fd, FileBytes& out) {
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (regular && ::lseek(fd, 0, SEEK_SET) != 0) return errno;
    return read_to_end(fd, regular ? static_cast<std::size_t>(status.st_size) : 0, out);
}

}  // namespace vesk
