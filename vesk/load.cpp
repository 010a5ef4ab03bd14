#include "load.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"

namespace vesk {
namespace {

void report(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "vesk: %s: %s\n", path.c_str(), message.c_str());
}

// The whole file, or the errno of the first failing call.
int read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    std::uint8_t chunk[1 << 16];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    ::close(fd);
    return error;
}

}  // namespace

bool load_protocol(const std::string& path, Loaded& out, int& exit_status) {
    std::vector<std::uint8_t> bytes;
    if (const int error = read_whole_file(path, bytes); error != 0) {
        report(path, std::string("cannot read: ") + std::strerror(error));
        exit_status = EXIT_ERROR;
        return false;
    }
    protocols::DecodeResult decoded = protocols::decode_file(bytes);
    if (!decoded) {
        report(path, "not a valid protocol file: " + decoded.error().describe());
        exit_status = EXIT_ERROR;
        return false;
    }
    // The decoder is meant to be the exact inverse of the encoder; if it ever
    // is not, nothing shown from the record could be trusted.
    if (protocols::encode_file(decoded.value()) != bytes) {
        report(path, "internal error: the decoded record does not re-encode to the file's bytes");
        exit_status = EXIT_INTERNAL;
        return false;
    }
    out.settings = std::move(decoded).value();
    out.file_size = bytes.size();
    return true;
}

}  // namespace vesk
