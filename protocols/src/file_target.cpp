#include "file_target.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace protocols {
namespace {

// Symbolic links followed from the given name before giving up, as the kernel does.
constexpr int kMaxSymlinks = 40;

// Longer link texts than any file system stores are refused rather than read.
constexpr std::size_t kMaxLinkText = std::size_t{1} << 16;

// The text of the link `name` in `directory`; `size_hint` is its size as
// stat reported it (0 for the kernel's own links in /proc).
int read_link(int directory, const std::string& name, std::size_t size_hint, std::string& text) {
    for (std::size_t size = size_hint + 1 < 256 ? 256 : size_hint + 1; size <= kMaxLinkText;
         size *= 2) {
        text.resize(size);
        const ssize_t length = ::readlinkat(directory, name.c_str(), text.data(), text.size());
        if (length < 0) return errno;
        if (static_cast<std::size_t>(length) < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return 0;
        }
        // Filled the buffer: the link may have grown since; read it again.
    }
    return ENAMETOOLONG;
}

}  // namespace

int resolve_file_target(std::string_view path, FileTarget& target) {
    FileDescriptor directory(AT_FDCWD);
    std::string name(path);
    for (int links = 0;; ++links) {
        if (name.ends_with('/')) {
            target.kind = FileTarget::Kind::Unresolved;
            break;
        }
        const std::size_t slash = name.rfind('/');
        // A bare name is opened as "." too, so that a change of the working
        // directory meanwhile cannot move the later steps elsewhere.
        if (slash != std::string::npos || links == 0) {
            const std::string part = slash == std::string::npos ? "." : name.substr(0, slash + 1);
            FileDescriptor next(open_at(directory.get(), part.c_str(), O_PATH | O_DIRECTORY));
            if (next.get() < 0) return errno;
            directory = std::move(next);
            name.erase(0, slash + 1);  // npos + 1 == 0: a bare name stays whole
        }
        if (::fstatat(directory.get(), name.c_str(), &target.status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return errno;
            // A missing file (or a dangling link's target) is created.
            target.kind = FileTarget::Kind::Missing;
            break;
        }
        if (!S_ISLNK(target.status.st_mode)) {
            target.kind = S_ISREG(target.status.st_mode) ? FileTarget::Kind::Regular
                                                         : FileTarget::Kind::Other;
            break;
        }
        if (links == kMaxSymlinks) return ELOOP;
        std::string text;
        const int error =
            read_link(directory.get(), name, static_cast<std::size_t>(target.status.st_size), text);
        if (error != 0) return error;
        // Relative to the link's directory; an absolute text ignores it.
        name = std::move(text);
    }
    target.directory = std::move(directory);
    target.name = std::move(name);
    return 0;
}

}  // namespace protocols
