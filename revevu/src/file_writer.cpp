#include "file_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace revevu {
namespace {

// An error's description, or nullopt for success.
using MaybeError = std::optional<std::string>;

constexpr std::pair<int, std::string_view> kErrorKinds[] = {
    {EPERM, "PermissionDenied"},
    {ENOENT, "NotFound"},
    {EINTR, "Interrupted"},
    {E2BIG, "ArgumentListTooLong"},
    {EAGAIN, "WouldBlock"},
    {ENOMEM, "OutOfMemory"},
    {EACCES, "PermissionDenied"},
    {EBUSY, "ResourceBusy"},
    {EEXIST, "AlreadyExists"},
    {EXDEV, "CrossesDevices"},
    {ENOTDIR, "NotADirectory"},
    {EISDIR, "IsADirectory"},
    {EINVAL, "InvalidInput"},
    {ETXTBSY, "ExecutableFileBusy"},
    {EFBIG, "FileTooLarge"},
    {ENOSPC, "StorageFull"},
    {ESPIPE, "NotSeekable"},
    {EROFS, "ReadOnlyFilesystem"},
    {EMLINK, "TooManyLinks"},
    {EPIPE, "BrokenPipe"},
    {EDEADLK, "Deadlock"},
    {ENAMETOOLONG, "InvalidFilename"},
    {ENOSYS, "Unsupported"},
    {ENOTEMPTY, "DirectoryNotEmpty"},
    {ELOOP, "FilesystemLoop"},
    {EOPNOTSUPP, "Unsupported"},
    {EADDRINUSE, "AddrInUse"},
    {EADDRNOTAVAIL, "AddrNotAvailable"},
    {ENETDOWN, "NetworkDown"},
    {ENETUNREACH, "NetworkUnreachable"},
    {ECONNABORTED, "ConnectionAborted"},
    {ECONNRESET, "ConnectionReset"},
    {ENOTCONN, "NotConnected"},
    {ETIMEDOUT, "TimedOut"},
    {ECONNREFUSED, "ConnectionRefused"},
    {EHOSTUNREACH, "HostUnreachable"},
    {EINPROGRESS, "InProgress"},
    {ESTALE, "StaleNetworkFileHandle"},
    {EDQUOT, "QuotaExceeded"},
};

// Symbolic links followed from the given name before giving up, as the kernel does.
constexpr int kMaxSymlinks = 40;

constexpr std::string_view kTemporaryPrefix = ".vesk-";

// strerror_r is the XSI or the GNU variant depending on the C library's
// feature macros; these overloads take either result.
[[maybe_unused]] const char* strerror_text(int, const char* buffer) {
    return buffer[0] != '\0' ? buffer : "Unknown error";
}
[[maybe_unused]] const char* strerror_text(const char* text, const char*) {
    return text;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out += '"';
}

std::string describe_error(std::string_view kind, std::string_view message) {
    return "Error { kind: " + std::string(kind) + ", message: " + quoted(message) + " }";
}

// Closes on destruction; close errors are seen only through close_checked().
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

    // Linux releases the descriptor even when close fails, EINTR included, so
    // it is never retried; only a real error (EIO on a network file system)
    // is reported.
    MaybeError close_checked() {
        const int result = ::close(std::exchange(fd_, -1));
        if (result != 0 && errno != EINTR) return describe_os_error(errno);
        return std::nullopt;
    }

private:
    int fd_;
};

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

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

// Every piece of the content, in order; the first failure ends it.
MaybeError write_content(int fd, const Content& content) {
    MaybeError error;
    content([&](std::span<const std::uint8_t> piece) {
        error = write_all(fd, piece);
        return !error;
    });
    return error;
}

// The old way, kept for what cannot be replaced by a rename: open, truncate,
// write; the close's result is not examined.
MaybeError write_in_place(const std::string& path, const Content& content) {
    FileDescriptor file(open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (file.get() < 0) return describe_os_error(errno);
    return write_content(file.get(), content);
}

// "dir/" for "dir/name", "" for a bare name.
std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a name finally stands for: symbolic links in the last component
// are followed, so that a link is kept and the file it points to replaced.
struct Target {
    std::string path;
    bool exists = false;
    struct stat status {};
};

// Fails with the error number that opening the name would have given.
std::pair<Target, int> resolve_target(const std::string& name) {
    Target target{.path = name};
    for (int links = 0;; ++links) {
        if (::lstat(target.path.c_str(), &target.status) != 0) {
            // A missing file (or a dangling link's target) is created; a
            // missing directory shows up when the temporary file is created.
            return {target, errno == ENOENT ? 0 : errno};
        }
        if (!S_ISLNK(target.status.st_mode)) {
            target.exists = true;
            return {target, 0};
        }
        if (links == kMaxSymlinks) return {target, ELOOP};
        std::string link(static_cast<std::size_t>(target.status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(target.path.c_str(), link.data(), link.size());
        if (length < 0) return {target, errno};
        if (static_cast<std::size_t>(length) == link.size()) continue;  // grew meanwhile: again
        link.resize(static_cast<std::size_t>(length));
        target.path = link.starts_with('/') ? link : directory_of(target.path) + link;
    }
}

// Six characters that differ between calls and processes; O_EXCL on creation
// makes uniqueness a matter of retrying, not of luck.
std::string temporary_suffix() {
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) ^
                        (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                        (static_cast<std::uint64_t>(::getpid()) << 20) ^
                        (counter.fetch_add(1) * 0x9E3779B97F4A7C15u);
    // splitmix64's finaliser spreads every input bit over the result.
    mix = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9u;
    mix = (mix ^ (mix >> 27)) * 0x94D049BB133111EBu;
    mix ^= mix >> 31;
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i, mix /= kAlphabet.size()) {
        suffix += kAlphabet[mix % kAlphabet.size()];
    }
    return suffix;
}

// A new file beside the target, removed again unless it has been renamed.
class TemporaryFile {
public:
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    // Created with `mode` through open(), so the umask and a default ACL of
    // the directory apply exactly as they would to the target itself.
    static std::pair<std::optional<TemporaryFile>, int> create(const std::string& directory,
                                                               mode_t mode) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = directory + std::string(kTemporaryPrefix) + temporary_suffix();
            const int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
            if (fd >= 0) return {TemporaryFile(std::move(path), fd), 0};
            if (errno != EEXIST) return {std::nullopt, errno};
        }
        return {std::nullopt, EEXIST};
    }

    TemporaryFile(TemporaryFile&& other) noexcept
        : path_(std::exchange(other.path_, std::string())), file_(std::move(other.file_)) {}

    int fd() const { return file_.get(); }
    MaybeError close() { return file_.close_checked(); }

    int rename_to(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
        path_.clear();
        return 0;
    }

private:
    TemporaryFile(std::string path, int fd) : path_(std::move(path)), file_(fd) {}

    std::string path_;
    FileDescriptor file_;
};

// The replacement takes over the old file's owner where this process may
// give it away (root), and always its permission bits: a chown clears the
// set-id bits, so the mode comes second.
MaybeError take_over_attributes(int fd, const struct stat& old) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        // Failing that, the file stays ours: the owner is not ours to give.
        [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return describe_os_error(errno);
    return std::nullopt;
}

// Best effort: the rename is done, so a failure here must not report the
// save as failed.
void sync_directory(const std::string& directory) {
    const FileDescriptor dir(
        open_retrying(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (dir.get() >= 0) {
        [[maybe_unused]] const int ignored = ::fsync(dir.get());
    }
}

// The temporary file's error numbers that mean only "not in this directory".
bool directory_refused(int error_number) {
    return error_number == EACCES || error_number == EPERM;
}

enum class Replaced { Done, DirectoryRefused };

std::pair<Replaced, MaybeError> replace_through_temporary(const Target& target,
                                                          const Content& content) {
    const std::string directory = directory_of(target.path);
    auto [temporary, create_error] =
        TemporaryFile::create(directory, target.exists ? target.status.st_mode & 0777 : 0666);
    if (!temporary) {
        if (target.exists && directory_refused(create_error)) {
            return {Replaced::DirectoryRefused, {}};
        }
        return {Replaced::Done, describe_os_error(create_error)};
    }
    if (MaybeError error = write_content(temporary->fd(), content)) {
        return {Replaced::Done, error};
    }
    if (target.exists) {
        if (MaybeError error = take_over_attributes(temporary->fd(), target.status)) {
            return {Replaced::Done, error};
        }
    }
    int sync_result;
    do {
        sync_result = ::fsync(temporary->fd());
    } while (sync_result != 0 && errno == EINTR);
    if (sync_result != 0) return {Replaced::Done, describe_os_error(errno)};
    if (MaybeError error = temporary->close()) return {Replaced::Done, error};
    if (const int error = temporary->rename_to(target.path); error != 0) {
        if (target.exists && directory_refused(error)) return {Replaced::DirectoryRefused, {}};
        return {Replaced::Done, describe_os_error(error)};
    }
    sync_directory(directory);
    return {Replaced::Done, {}};
}

}  // namespace

std::string_view error_kind_name(int error_number) {
    for (const auto& [number, name] : kErrorKinds) {
        if (number == error_number) return name;
    }
    return "Uncategorized";
}

std::string describe_os_error(int error_number) {
    char buffer[256] = "";
    const char* text = strerror_text(::strerror_r(error_number, buffer, sizeof buffer), buffer);
    return "Os { code: " + std::to_string(error_number) +
           ", kind: " + std::string(error_kind_name(error_number)) + ", message: " + quoted(text) +
           " }";
}

std::optional<std::string> write_file_atomically(std::string_view path,
                                                 std::span<const std::uint8_t> bytes) {
    return write_file_atomically(path, [bytes](const PieceWriter& write) { write(bytes); });
}

std::optional<std::string> write_file_atomically(std::string_view path, const Content& content) {
    if (path.find('\0') != std::string_view::npos) {
        return describe_error("InvalidInput", "file name contained an unexpected NUL byte");
    }
    const std::string name(path);
    // Open with O_CREAT never makes a regular file of a name that ends in a
    // slash, so such a name fails in place as it always did.
    if (name.ends_with('/')) return write_in_place(name, content);

    const auto [target, resolve_error] = resolve_target(name);
    if (resolve_error != 0) return describe_os_error(resolve_error);
    // Devices, FIFOs and sockets are written to, not replaced; a directory
    // fails to open with EISDIR, as it always did.
    if (target.exists && !S_ISREG(target.status.st_mode)) return write_in_place(name, content);
    // A file this process may not open for writing is not replaced behind
    // its owner's back; the refusal is the error that opening it would give.
    if (target.exists && ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) {
        return describe_os_error(errno);
    }
    auto [replaced, error] = replace_through_temporary(target, content);
    // The file is writable but its directory takes no new file: write in
    // place, as before, rather than refuse a save that used to work.
    if (replaced == Replaced::DirectoryRefused) return write_in_place(target.path, content);
    return error;
}

}  // namespace revevu
