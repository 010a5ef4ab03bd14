#include "file_attributes.hpp"

#include <sys/types.h>
#include <sys/xattr.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace protocols {
namespace {

// A file's access ACL, which a new file takes from its directory's default ACL.
constexpr std::string_view kAccessAcl = "system.posix_acl_access";

bool is_refusal(int error_number) {
    return error_number == EPERM || error_number == EACCES || error_number == EOPNOTSUPP;
}

AttributeCopy failure(int error_number) {
    return is_refusal(error_number) ? AttributeCopy{.refused = true}
                                    : AttributeCopy{.error = error_number};
}

// Asks for the size, then reads; again if the value grew in between (ERANGE).
template <typename Read>
int read_sized(std::string& out, const Read& read) {
    for (;;) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) return errno;
        out.resize(static_cast<std::size_t>(size));
        if (size == 0) return 0;
        const ssize_t length = read(out.data(), out.size());
        if (length >= 0) {
            out.resize(static_cast<std::size_t>(length));
            return 0;
        }
        if (errno != ERANGE) return errno;
    }
}

}  // namespace

AttributeCopy copy_extended_attributes(int from, int to) {
    std::string names;
    if (const int error = read_sized(
            names, [from](char* out, std::size_t size) { return ::flistxattr(from, out, size); })) {
        // A file system without extended attributes has none to lose.
        return error == EOPNOTSUPP ? AttributeCopy{} : failure(error);
    }
    std::string value;
    bool has_access_acl = false;
    // The names are NUL-terminated, one after the other.
    for (std::size_t at = 0; at < names.size();
         at += std::char_traits<char>::length(&names[at]) + 1) {
        const char* name = &names[at];
        if (const int error = read_sized(value, [from, name](char* out, std::size_t size) {
                return ::fgetxattr(from, name, out, size);
            })) {
            if (error == ENODATA) continue;  // removed since the listing
            return failure(error);
        }
        has_access_acl = has_access_acl || name == kAccessAcl;
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) return failure(errno);
    }
    // ENODATA: none was inherited; EOPNOTSUPP: no ACLs on this file system.
    if (!has_access_acl && ::fremovexattr(to, kAccessAcl.data()) != 0 && errno != ENODATA &&
        errno != EOPNOTSUPP) {
        return failure(errno);
    }
    return {};
}

}  // namespace protocols
