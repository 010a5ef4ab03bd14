#include "read_and_decode.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "read_file.hpp"

namespace vesk {
namespace {

class FileSource final : public protocols::ByteSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}

    std::size_t read_some(std::uint8_t* out, std::size_t room) override {
        for (;;) {
            const ssize_t n = ::read(fd_, out, room);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) {
                failed_ = true;
                return 0;
            }
        }
    }

    // Whether every read succeeded and the file ends here, where it ended
    // when its size was taken.
    bool read_cleanly_to_end() {
        std::uint8_t past;
        return read_some(&past, 1) == 0 && !failed_;
    }

private:
    int fd_;
    bool failed_ = false;
};

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

FileDecoding decoded_whole(int fd) {
    FileBytes bytes;
    if (const int error = read_whole_file(fd, bytes); error != 0) return {error, std::nullopt};
    return {0, protocols::decode_file(bytes)};
}

}  // namespace

// A regular file is decoded in pieces, sized from fstat. Anything that could
// make that differ from reading the file whole (a read that fails, a file that
// shrinks or grows meanwhile) and any refusal is settled by reading it whole
// once more, so that the errno or the refusal is exactly that path's.
FileDecoding read_and_decode(const char* path) {
    const Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return {errno, std::nullopt};
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return decoded_whole(fd.get());
    FileSource source(fd.get());
    protocols::DecodeResult decoded =
        protocols::decode_file(source, static_cast<std::size_t>(status.st_size));
    if (!decoded || !source.read_cleanly_to_end()) return decoded_whole(fd.get());
    return {0, std::move(decoded)};
}

}  // namespace vesk
