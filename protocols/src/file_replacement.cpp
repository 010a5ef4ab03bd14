#include "file_replacement.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "file_attributes.hpp"
#include "pending_temporary.hpp"
#include "protocols/file_errors.hpp"

namespace protocols {
namespace {

constexpr std::string_view kTemporaryPrefix = ".vesk-";

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

// Holds back every signal that can be caught while a temporary name comes
// into being and is registered (pending_temporary.hpp), so that a handler
// that removes it runs before the name exists or after it is registered,
// never in between. No handler is installed or changed.
class SignalsDeferred {
public:
    SignalsDeferred() {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    SignalsDeferred(const SignalsDeferred&) = delete;
    SignalsDeferred& operator=(const SignalsDeferred&) = delete;
    ~SignalsDeferred() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

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

// The new file: unnamed, or under a temporary name that is removed again
// unless the file was renamed over the target.
class NewFile {
public:
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    NewFile(NewFile&& other) noexcept
        : directory_(other.directory_),
          file_(std::move(other.file_)),
          unnamed_(other.unnamed_),
          published_(other.published_),
          temporary_(std::exchange(other.temporary_, std::string())),
          registered_(std::exchange(other.registered_, false)) {}
    ~NewFile() {
        // Not examined: the save has already failed with its own error.
        if (!temporary_.empty()) ::unlinkat(directory_, temporary_.c_str(), 0);
        forget_temporary();
    }

    // Created with `mode` through the open call, so that the umask and a
    // default ACL of the directory apply as they would to the target itself.
    static std::pair<std::optional<NewFile>, int> create(int directory, mode_t mode, bool unnamed) {
        if (unnamed) {
            const int fd = open_at(directory, ".", O_TMPFILE | O_WRONLY, mode);
            if (fd >= 0) return {NewFile(directory, fd, std::string()), 0};
            if (!unnamed_files_refused(errno)) return {std::nullopt, errno};
        }
        const SignalsDeferred deferred;
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
    bool published() const { return published_; }
    int close() { return file_.close_checked(); }

    // Names an unnamed file: a new target directly (nothing to replace, no
    // moment with a second name), else a temporary name beside it.
    int give_name(const std::string& target, bool target_missing) {
        if (target_missing) {
            const int error = link_unnamed(fd(), directory_, target.c_str());
            if (error == 0) return mark_published();
            if (error != EEXIST) return error;  // else created meanwhile: replace it
        }
        const SignalsDeferred deferred;
        auto [name, error] = under_temporary_name(
            [&](const char* candidate) { return link_unnamed(fd(), directory_, candidate); });
        take_temporary(std::move(name));
        return error;
    }

    // Renames the file over the target, if it is not there already.
    int publish(const std::string& target) {
        if (published_) return 0;
        if (::renameat(directory_, temporary_.c_str(), directory_, target.c_str()) != 0) {
            return errno;
        }
        return mark_published();
    }

private:
    NewFile(int directory, int fd, std::string temporary)
        : directory_(directory), file_(fd), unnamed_(temporary.empty()) {
        take_temporary(std::move(temporary));
    }

    // A temporary name is known to a signal handler for as long as it exists
    // (pending_temporary.hpp), so that a program may remove it on its way out.
    void take_temporary(std::string name) {
        temporary_ = std::move(name);
        if (!temporary_.empty()) {
            registered_ = register_pending_temporary(directory_, temporary_.c_str());
        }
    }

    void forget_temporary() {
        if (std::exchange(registered_, false)) clear_pending_temporary();
    }

    int mark_published() {
        temporary_.clear();
        forget_temporary();
        published_ = true;
        return 0;
    }

    int directory_;
    FileDescriptor file_;
    bool unnamed_;
    bool published_ = false;
    std::string temporary_;
    bool registered_ = false;
};

Replacement refused() {
    return {.refused = true, .error = std::nullopt};
}

Replacement failed(int error_number) {
    return {.refused = false, .error = FileError::os(error_number)};
}

// Before any byte goes in, so that a refusal costs nothing. A process other
// than root may not give a file away, and may give it only a group of its
// own: the owner is asked for only when it differs from this process, and a
// new file that would differ from the old one is refused. EINVAL: an id that
// this user namespace does not map.
Replacement take_owner_and_attributes(int fd, const OldFile& old) {
    const uid_t owner =
        old.status.st_uid == ::geteuid() ? static_cast<uid_t>(-1) : old.status.st_uid;
    if (::fchown(fd, owner, old.status.st_gid) != 0) {
        return errno == EPERM || errno == EINVAL ? refused() : failed(errno);
    }
    const AttributeCopy copy = copy_extended_attributes(old.file.get(), fd);
    if (copy.refused) return refused();
    if (copy.error != 0) return failed(copy.error);
    return {};
}

// After the rename, the directory is flushed so that the rename itself is
// durable; a failure is reported although the target already holds the new
// content. Tolerated, as they cost nothing that a flush could keep: a
// directory this process may write but not read cannot be opened for it
// (EACCES), and a file system that does not flush directories says so
// (EINVAL, EOPNOTSUPP, ENOSYS). The read handle's close is not examined:
// nothing was written through it.
int flush_directory(int directory) {
    const FileDescriptor readable(open_at(directory, ".", O_RDONLY | O_DIRECTORY));
    if (readable.get() < 0) return errno == EACCES ? 0 : errno;
    const int error = flush_file(readable.get());
    return error == EINVAL || error == EOPNOTSUPP || error == ENOSYS ? 0 : error;
}

// One attempt with an unnamed or a named new file; nullopt when an unnamed
// file, once written, cannot be named (no /proc, and no privilege to link
// from the descriptor itself), so that a named one is tried instead.
std::optional<Replacement> attempt(const FileTarget& target, const OldFile* old,
                                   const Content& content, bool unnamed) {
    const mode_t mode = old != nullptr ? old->status.st_mode & 0777 : 0666;
    auto [file, create_error] = NewFile::create(target.directory.get(), mode, unnamed);
    if (!file) {
        // A writable file in a directory that takes no new file is written in place.
        return old != nullptr && permission_refused(create_error) ? refused()
                                                                  : failed(create_error);
    }
    const int fd = file->fd();
    if (old != nullptr) {
        if (Replacement taken = take_owner_and_attributes(fd, *old); taken.refused || taken.error) {
            return taken;
        }
    }
    if (MaybeError error = write_content(fd, content))
        return Replacement{.refused = false, .error = std::move(error)};
    // A write by a process without privilege clears the set-id bits.
    if (old != nullptr && ::fchmod(fd, old->status.st_mode & 07777) != 0) {
        return permission_refused(errno) ? refused() : failed(errno);
    }
    if (const int error = flush_file(fd)) return failed(error);
    if (file->unnamed()) {
        const int error = file->give_name(target.name, old == nullptr);
        if (error == ENOENT || error == EPERM) return std::nullopt;
        if (error != 0) return failed(error);
    }
    // Closed before the rename, so that its failure leaves the target as it
    // was. Linked straight as a new target, the file is closed after, and
    // that close is not examined: its data was flushed above, so a failing
    // close cannot cost any of it.
    if (!file->published()) {
        if (const int error = file->close()) return failed(error);
    }
    if (const int error = file->publish(target.name)) {
        return old != nullptr && permission_refused(error) ? refused() : failed(error);
    }
    if (file->fd() >= 0) static_cast<void>(file->close());
    if (const int error = flush_directory(target.directory.get())) return failed(error);
    return Replacement{};
}

}  // namespace

Replacement replace_file(const FileTarget& target, const OldFile* old, const Content& content) {
    if (std::optional<Replacement> done = attempt(target, old, content, /*unnamed=*/true)) {
        return *std::move(done);
    }
    return *attempt(target, old, content, /*unnamed=*/false);
}

}  // namespace protocols
