#include "file_writer.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "file_attributes.hpp"
#include "file_descriptor.hpp"
#include "file_target.hpp"

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

// The old way, kept for what cannot be replaced: open (following a link as
// open() does), truncate, write; the close's result is not examined.
MaybeError write_in_place(int directory, const std::string& name, const Content& content) {
    const FileDescriptor file(open_at(directory, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (file.get() < 0) return describe_os_error(errno);
    return write_content(file.get(), content);
}

int sync_retrying(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

// Best effort: the rename is done, so a failure here must not report the
// save as failed. An O_PATH handle cannot be synced; the directory is opened
// for reading through it.
void sync_directory(int directory) {
    const FileDescriptor readable(open_at(directory, ".", O_RDONLY | O_DIRECTORY));
    if (readable.get() >= 0) sync_retrying(readable.get());
}

// Error numbers that mean only "not this way, for want of permission".
bool permission_refused(int error_number) {
    return error_number == EACCES || error_number == EPERM;
}

// The file systems that have no unnamed files refuse O_TMPFILE with one of
// these (an old kernel takes it for O_DIRECTORY and opens "." as one).
bool unnamed_files_refused(int error_number) {
    return error_number == EOPNOTSUPP || error_number == EISDIR || error_number == EINVAL;
}

// Runs `attempt` (0 or an error number) with fresh temporary names until one
// is not taken; O_EXCL and linkat make uniqueness a matter of retrying.
template <typename Attempt>
std::pair<std::string, int> under_temporary_name(const Attempt& attempt) {
    for (int tries = 0; tries < 100; ++tries) {
        std::string name = std::string(kTemporaryPrefix) + temporary_suffix();
        const int error = attempt(name.c_str());
        if (error != EEXIST) return {error == 0 ? std::move(name) : std::string(), error};
    }
    return {std::string(), EEXIST};
}

// An unnamed file's first name in `directory`: linked through /proc, or
// straight from the descriptor where the process may do that and /proc is
// not mounted.
int link_unnamed(int fd, int directory, const char* name) {
    char own_path[32];
    std::snprintf(own_path, sizeof own_path, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, own_path, directory, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    return ::linkat(fd, "", directory, name, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// Where the new content is written before it replaces the target: an
// unnamed file in the target's directory, named only once it is complete and
// synced, so that a process killed before leaves nothing behind; or, where
// the file system has no unnamed files, a file under a temporary name. A
// temporary name is removed again unless the file was renamed over the target.
class NewFile {
public:
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    NewFile(NewFile&& other) noexcept
        : directory_(other.directory_),
          file_(std::move(other.file_)),
          unnamed_(other.unnamed_),
          installed_(other.installed_),
          temporary_(std::exchange(other.temporary_, std::string())) {}
    ~NewFile() {
        if (!temporary_.empty()) ::unlinkat(directory_, temporary_.c_str(), 0);
    }

    // Created with `mode` through the open call, so that the umask and a
    // default ACL of the directory apply as they would to the target itself.
    static std::pair<std::optional<NewFile>, int> create(int directory, mode_t mode, bool unnamed) {
        if (unnamed) {
            const int fd = open_at(directory, ".", O_TMPFILE | O_WRONLY, mode);
            if (fd >= 0) return {NewFile(directory, fd, std::string()), 0};
            if (!unnamed_files_refused(errno)) return {std::nullopt, errno};
        }
        int fd = -1;
        auto [name, error] = under_temporary_name([&](const char* candidate) {
            fd = open_at(directory, candidate, O_WRONLY | O_CREAT | O_EXCL, mode);
            return fd >= 0 ? 0 : errno;
        });
        if (error != 0) return {std::nullopt, error};
        return {NewFile(directory, fd, std::move(name)), 0};
    }

    int fd() const { return file_.get(); }
    bool unnamed() const { return unnamed_; }
    int close() { return file_.close_checked(); }

    // Names an unnamed file: a new target directly (nothing to replace, no
    // moment with a second name), else a temporary name beside it.
    int give_name(const std::string& target, bool target_missing) {
        if (target_missing) {
            const int error = link_unnamed(fd(), directory_, target.c_str());
            if (error == 0) return installed();
            if (error != EEXIST) return error;  // else created meanwhile: replace it
        }
        auto [name, error] = under_temporary_name(
            [&](const char* candidate) { return link_unnamed(fd(), directory_, candidate); });
        temporary_ = std::move(name);
        return error;
    }

    // Renames the file over the target, if it is not there already.
    int install(const std::string& target) {
        if (installed_) return 0;
        if (::renameat(directory_, temporary_.c_str(), directory_, target.c_str()) != 0) {
            return errno;
        }
        return installed();
    }

private:
    NewFile(int directory, int fd, std::string temporary)
        : directory_(directory),
          file_(fd),
          unnamed_(temporary.empty()),
          temporary_(std::move(temporary)) {}

    int installed() {
        temporary_.clear();
        installed_ = true;
        return 0;
    }

    int directory_;
    FileDescriptor file_;
    bool unnamed_;
    bool installed_ = false;
    std::string temporary_;
};

// The file being replaced, open for reading its extended attributes.
struct OldFile {
    FileDescriptor file;
    struct stat status;
};

// The replacement takes over the old file's owner where this process may
// give it away (root), its extended attributes, and always its permission
// bits: a chown clears the set-id bits and setting an ACL may clear the
// set-group-id bit, so the mode comes last.
AttributeCopy take_over_attributes(int fd, const OldFile& old) {
    if (old.status.st_uid != ::geteuid() || old.status.st_gid != ::getegid()) {
        // Failing that, the file stays ours: the owner is not ours to give.
        [[maybe_unused]] const int ignored = ::fchown(fd, old.status.st_uid, old.status.st_gid);
    }
    const AttributeCopy copy = copy_extended_attributes(old.file.get(), fd);
    if (copy.refused || copy.error != 0) return copy;
    if (::fchmod(fd, old.status.st_mode & 07777) != 0) return {.error = errno};
    return {};
}

// What to do after a replacement attempt: nothing more (it succeeded or
// failed with the error), write in place (the replacement was refused), or
// try again with a named temporary file (an unnamed one could not be named).
enum class Next { Done, WriteInPlace, UseNamedFile };

std::pair<Next, MaybeError> failed(int error_number) {
    return {Next::Done, describe_os_error(error_number)};
}

std::pair<Next, MaybeError> replace(const FileTarget& target, const OldFile* old,
                                    const Content& content, bool unnamed) {
    const int directory = target.directory.get();
    auto [file, create_error] =
        NewFile::create(directory, old != nullptr ? old->status.st_mode & 0777 : 0666, unnamed);
    if (!file) {
        // A writable file in a directory that takes no new file is written in place.
        if (old != nullptr && permission_refused(create_error)) return {Next::WriteInPlace, {}};
        return failed(create_error);
    }
    if (MaybeError error = write_content(file->fd(), content)) return {Next::Done, error};
    if (old != nullptr) {
        const AttributeCopy taken = take_over_attributes(file->fd(), *old);
        // An attribute that cannot be carried over is kept by writing in place.
        if (taken.refused) return {Next::WriteInPlace, {}};
        if (taken.error != 0) return failed(taken.error);
    }
    if (const int error = sync_retrying(file->fd())) return failed(error);
    if (file->unnamed()) {
        const int error = file->give_name(target.name, old == nullptr);
        // No /proc, and no privilege to link from the descriptor itself, or no hard links.
        if (error == ENOENT || error == EPERM) return {Next::UseNamedFile, {}};
        if (error != 0) return failed(error);
    } else if (const int error = file->close()) {
        return failed(error);
    }
    if (const int error = file->install(target.name)) {
        if (old != nullptr && permission_refused(error)) return {Next::WriteInPlace, {}};
        return failed(error);
    }
    // An unnamed file stays open until its name is final (closing it first
    // would end it); a failure now is reported, with the new file in place.
    if (file->unnamed()) {
        if (const int error = file->close()) return failed(error);
    }
    sync_directory(directory);
    return {Next::Done, {}};
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
    // The kernel refuses a longer name before looking at it.
    if (path.size() >= PATH_MAX) return describe_os_error(ENAMETOOLONG);
    FileTarget target;
    if (const int error = resolve_file_target(path, target)) return describe_os_error(error);
    const int directory = target.directory.get();
    // Devices, FIFOs and sockets are written to, not replaced; a directory
    // (and a name that ends in a slash) fails to open as it always did.
    if (target.kind == FileTarget::Kind::Other || target.kind == FileTarget::Kind::Unresolved) {
        return write_in_place(directory, target.name, content);
    }
    std::optional<OldFile> old;
    if (target.kind == FileTarget::Kind::Regular) {
        const char* name = target.name.c_str();
        // A file this process may not open for writing is not replaced behind
        // its owner's back; the refusal is the error that opening it would give.
        if (::faccessat(directory, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
            return describe_os_error(errno);
        }
        FileDescriptor file(open_at(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
        if (file.get() < 0) {
            // Unreadable: its attributes cannot be copied, so they are kept in place.
            if (permission_refused(errno)) return write_in_place(directory, target.name, content);
            return describe_os_error(errno);
        }
        struct stat status {};
        if (::fstat(file.get(), &status) != 0) return describe_os_error(errno);
        // A second hard link would keep the old content if the file were
        // replaced; in place, every name sees the new one.
        if (!S_ISREG(status.st_mode) || status.st_nlink > 1) {
            return write_in_place(directory, target.name, content);
        }
        old.emplace(OldFile{std::move(file), status});
    }
    const OldFile* replaced = old ? &*old : nullptr;
    auto [next, error] = replace(target, replaced, content, /*unnamed=*/true);
    if (next == Next::UseNamedFile) {
        std::tie(next, error) = replace(target, replaced, content, /*unnamed=*/false);
    }
    if (next == Next::WriteInPlace) return write_in_place(directory, target.name, content);
    return error;
}

}  // namespace revevu
