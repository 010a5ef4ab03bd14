#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "replacing_file.hpp"

namespace {

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A committed file's descriptor is closed once: the number is free for the
// next open, and whatever takes it must survive the ReplacingFile's end.
TEST(ReplacingFile, CommitClosesOnceAndReplaces) {
    char folder_template[] = "/tmp/vesk-replacing-XXXXXX";
    ASSERT_NE(::mkdtemp(folder_template), nullptr);
    const std::filesystem::path folder = folder_template;
    const std::string target = folder / "out.py";
    std::ofstream(target) << "old";
    int reused = -1;
    {
        vesk::ReplacingFile file;
        ASSERT_EQ(file.open(target), 0);
        ASSERT_TRUE(vesk::write_all(file.fd(), "new", 3));
        const int fd = file.fd();
        ASSERT_EQ(file.commit(), 0);
        reused = ::open((folder / "other").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(reused, fd);  // the lowest free number: the one commit closed
    }
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "closed a second time";
    ::close(reused);
    EXPECT_EQ(read_all(target), "new");
    std::filesystem::remove_all(folder);
}

}  // namespace
