#include "protocols/file_writer.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "file_in_place.hpp"
#include "file_policy.hpp"
#include "file_replacement.hpp"
#include "file_target.hpp"
#include "protocols/file_descriptor.hpp"

namespace protocols {
namespace {

// What the policy needs to know of a regular file, and the file itself open
// for reading when it can be replaced. 0, or the error that ends the save.
int look_at_regular_file(const FileTarget& target, TargetFacts& facts,
                         std::optional<OldFile>& old) {
    const int directory = target.directory.get();
    const char* name = target.name.c_str();
    if (::faccessat(directory, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        facts.write_refused = errno;
        return 0;
    }
    FileDescriptor file(open_at(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno != EACCES && errno != EPERM) return errno;
        facts.readable = false;
        return 0;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return errno;
    if (!S_ISREG(status.st_mode)) facts.kind = FileTarget::Kind::Other;  // swapped meanwhile
    facts.links = status.st_nlink;
    old.emplace(OldFile{std::move(file), status});
    return 0;
}

}  // namespace

std::optional<std::string> write_file_atomically(std::string_view path,
                                                 std::span<const std::uint8_t> bytes) {
    return write_file_atomically(path, [bytes](const PieceWriter& write) { write(bytes); });
}

std::optional<std::string> write_file_atomically(std::string_view path, const Content& content) {
    if (MaybeError error = replace_file_contents(path, content)) return describe_file_error(*error);
    return std::nullopt;
}

MaybeError replace_file_contents(std::string_view path, const Content& content) {
    if (path.find('\0') != std::string_view::npos) return kNulInName;
    // The kernel refuses a longer name before looking at it.
    if (path.size() >= PATH_MAX) return FileError::os(ENAMETOOLONG);
    FileTarget target;
    if (const int error = resolve_file_target(path, target)) return FileError::os(error);
    TargetFacts facts{.kind = target.kind};
    std::optional<OldFile> old;
    if (target.kind == FileTarget::Kind::Regular) {
        if (const int error = look_at_regular_file(target, facts, old)) {
            return FileError::os(error);
        }
    }
    switch (choose_write_way(facts)) {
        case WriteWay::Refuse:
            return FileError::os(facts.write_refused);
        case WriteWay::InPlace:
            return write_in_place(target.directory.get(), target.name, content);
        case WriteWay::Replace:
            break;
    }
    Replacement replaced = replace_file(target, old ? &*old : nullptr, content);
    if (replaced.refused) return write_in_place(target.directory.get(), target.name, content);
    return std::move(replaced.error);
}

}  // namespace protocols
