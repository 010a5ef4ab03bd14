#include "load.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "read_file.hpp"

namespace vesk {
namespace {

constexpr std::size_t VERIFY_PIECE = std::size_t{1} << 16;  // compared while still in cache

void report(const std::string& path, const std::string& message) {
    std::fprintf(stderr, "vesk: %s: %s\n", path.c_str(), message.c_str());
}

// What a process with a mapped file is told when the file shrinks under it
// and a page past its new end is touched: a one-line error and status 2,
// written with the only calls a signal handler may make.
char truncated_message[4096];
std::size_t truncated_length = 0;

extern "C" void report_truncated_file(int) {
    [[maybe_unused]] const ssize_t written =
        ::write(STDERR_FILENO, truncated_message, truncated_length);
    ::_exit(EXIT_ERROR);
}

// A file's bytes. A regular file is mapped, which shares the page cache's
// pages instead of copying them; anything else (a pipe, /proc, a file the
// kernel cannot map) is read into memory.
class FileContents {
public:
    FileContents() = default;
    FileContents(const FileContents&) = delete;
    FileContents& operator=(const FileContents&) = delete;
    ~FileContents() {
        if (mapped_ == nullptr) return;
        ::munmap(mapped_, size_);
        ::sigaction(SIGBUS, &previous_, nullptr);
    }

    // 0, or the errno of the first failing call.
    int open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return errno;
        struct stat status {};
        int error = 0;
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
            map(fd, path, static_cast<std::size_t>(status.st_size));
        }
        if (mapped_ == nullptr) {
            const bool regular = S_ISREG(status.st_mode);
            error = read_to_end(fd, regular ? static_cast<std::size_t>(status.st_size) : 0, read_);
        }
        ::close(fd);
        return error;
    }

    std::span<const std::uint8_t> bytes() const {
        if (mapped_ != nullptr) return {static_cast<const std::uint8_t*>(mapped_), size_};
        return read_;
    }

private:
    void map(int fd, const std::string& path, std::size_t size) {
        const std::string message = "vesk: " + path +
                                    ": cannot read: the file was truncated while it "
                                    "was read\n";
        truncated_length = std::min(message.size(), sizeof truncated_message);
        std::memcpy(truncated_message, message.data(), truncated_length);
        struct sigaction action {};
        action.sa_handler = report_truncated_file;
        ::sigaction(SIGBUS, &action, &previous_);
        void* const at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (at == MAP_FAILED) {
            ::sigaction(SIGBUS, &previous_, nullptr);
            return;
        }
        mapped_ = at;
        size_ = size;
    }

    void* mapped_ = nullptr;
    std::size_t size_ = 0;
    struct sigaction previous_ {};
    FileBytes read_;
};

}  // namespace

// Encoded in pieces, each compared as it comes, so that no second copy of the
// file is made.
bool reencodes_to(const protocols::Settings& settings, std::span<const std::uint8_t> file) {
    std::size_t compared = 0;
    const bool whole = protocols::encode_file_in_pieces(
        settings, VERIFY_PIECE, [&](std::span<const std::uint8_t> piece) {
            if (piece.size() > file.size() - compared ||
                !std::equal(piece.begin(), piece.end(), file.begin() + compared)) {
                return false;
            }
            compared += piece.size();
            return true;
        });
    return whole && compared == file.size();
}

bool load_protocol(const std::string& path, Loaded& out, int& exit_status) {
    FileContents file;
    if (const int error = file.open(path); error != 0) {
        report(path, std::string("cannot read: ") + std::strerror(error));
        exit_status = EXIT_ERROR;
        return false;
    }
    const std::span<const std::uint8_t> bytes = file.bytes();
    protocols::DecodeResult decoded = protocols::decode_file(bytes);
    if (!decoded) {
        report(path, "not a valid protocol file: " + decoded.error().describe());
        exit_status = EXIT_ERROR;
        return false;
    }
    // The decoder is meant to be the exact inverse of the encoder; if it ever
    // is not, nothing shown from the record could be trusted.
    if (!reencodes_to(decoded.value(), bytes)) {
        report(path, "internal error: the decoded record does not re-encode to the file's bytes");
        exit_status = EXIT_INTERNAL;
        return false;
    }
    out.settings = std::move(decoded).value();
    return true;
}

}  // namespace vesk
