#include "replacing_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>

namespace vesk {

ReplacingFile::~ReplacingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int ReplacingFile::open(const std::string& path) {
    path_ = path;
    // A hidden name in the same folder, of its own length (the target's name
    // may already be as long as a name can be), unique by process and counter.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = folder + ".vesk-" + std::to_string(::getpid()) + "-" +
                                      std::to_string((seed + attempt) % 1000000) + ".tmp";
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = candidate;
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int ReplacingFile::commit() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return errno;
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) return errno;
    temporary_.clear();
    return 0;
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string npz_path_beside(const std::string& out) {
    const std::size_t slash = out.rfind('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(out).substr(name_start);
    if (name.empty() || name == "." || name == "..") return {};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return out + ".npz";
    if (dot == name.size() - 1) return {};  // "out.": no suffix before 3.14, "." from it on
    if (name.find_first_not_of('.') > dot) return {};  // "..py": "." is no stem from 3.14 on
    return out.substr(0, name_start + dot) + ".npz";
}

}  // namespace vesk
