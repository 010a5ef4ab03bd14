// A file that takes the place of `path` only once it is complete: written
// under a temporary name in the same folder, renamed over `path` by commit(),
// and removed if it is never committed. No fsync: it guards against a failed
// or interrupted command, not against a power cut.
#pragma once

#include <cstddef>
#include <string>

namespace vesk {

class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();

    // 0, or the errno of the failure.
    int open(const std::string& path);
    int fd() const { return fd_; }
    int commit();

private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

// Writes all `size` bytes at `data` to `fd`, going on after partial writes and
// interruptions. False, with errno set, when a write fails.
bool write_all(int fd, const void* data, std::size_t size);

// Where `vesk script` puts the samples beside OUT: OUT with its suffix
// replaced by ".npz", as Python's Path.with_suffix does, so that the script
// finds them through Path(__file__).with_suffix(".npz"). Empty for a name on
// which Python versions disagree (one ending in ".", or dots and then one
// suffix, like "..py") or that names no file ("", ".", "..", "dir/").
std::string npz_path_beside(const std::string& out);

}  // namespace vesk
