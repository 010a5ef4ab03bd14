#include "protocols/file_writer.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <thread>

#include "param_name.hpp"

namespace protocols {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_plain(const fs::path& path, std::string_view content, mode_t mode = 0644) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

mode_t mode_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode;
}

// Runs `body` in a forked child and returns its exit status; the child's
// limits, signal dispositions and ids do not leak into the test process.
int in_child(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A character device of the test's own (1, 3 is the null device, 1, 7 the
// full one), so that no test writes the machine's; only root may make one.
bool may_make_devices() {
    return ::geteuid() == 0;
}

int make_char_device(const fs::path& path, unsigned minor) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor)) == 0 ? 0 : errno;
}

class FileWriter : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "file-writer-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        old_umask_ = ::umask(022);
    }
    void TearDown() override {
        ::umask(old_umask_);
        fs::remove_all(dir_);
    }

    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::optional<std::string> save(const fs::path& path, std::string_view content) const {
        return write_file_atomically(path.string(), as_bytes(content));
    }

    fs::path dir_;
    mode_t old_umask_ = 0;
};

struct KindCase {
    int number;
    const char* description;
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.number;
}

// "enoent" for ENOENT; "code_9999" for a number without a name.
std::string error_name(int number) {
    const char* name = ::strerrorname_np(number);
    if (name == nullptr) return "code_" + std::to_string(number);
    std::string lower;
    for (const char* c = name; *c != '\0'; ++c) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    return lower;
}

class DescribeOsError : public ::testing::TestWithParam<KindCase> {};

TEST_P(DescribeOsError, HasCodeKindAndText) {
    EXPECT_EQ(describe_os_error(GetParam().number), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DescribeOsError,
    ::testing::Values(
        KindCase{2, R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })"},
        KindCase{1,
                 R"(Os { code: 1, kind: PermissionDenied, message: "Operation not permitted" })"},
        KindCase{13, R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })"},
        KindCase{5, R"(Os { code: 5, kind: Uncategorized, message: "Input/output error" })"},
        KindCase{21, R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })"},
        KindCase{27, R"(Os { code: 27, kind: FileTooLarge, message: "File too large" })"},
        KindCase{36, R"(Os { code: 36, kind: InvalidFilename, message: "File name too long" })"},
        KindCase{95, R"(Os { code: 95, kind: Unsupported, message: "Operation not supported" })"},
        KindCase{122, R"(Os { code: 122, kind: QuotaExceeded, message: "Disk quota exceeded" })"},
        KindCase{9999, R"(Os { code: 9999, kind: Uncategorized, message: "Unknown error 9999" })"}),
    [](const auto& info) { return error_name(info.param.number); });

TEST(ErrorKindName, ListedAndUnlisted) {
    EXPECT_EQ(error_kind_name(38), "Unsupported");
    EXPECT_EQ(error_kind_name(116), "StaleNetworkFileHandle");
    EXPECT_EQ(error_kind_name(3), "Uncategorized");  // ESRCH
    EXPECT_EQ(error_kind_name(0), "Uncategorized");
    EXPECT_EQ(error_kind_name(-1), "Uncategorized");
}

TEST_F(FileWriter, NewFileHasContentAndUmaskedMode) {
    EXPECT_EQ(save(dir_ / "new.vesk", std::string("a\0b", 3)), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "new.vesk"), std::string("a\0b", 3));
    EXPECT_EQ(mode_of(dir_ / "new.vesk"), S_IFREG | 0644);
    EXPECT_EQ(listing(), std::set<std::string>{"new.vesk"});
}

TEST_F(FileWriter, ReplacesLongerFileWholeAndKeepsItsMode) {
    write_plain(dir_ / "old.vesk", std::string(10000, 'x'), 0660);
    ::umask(077);  // the kept mode is not the umask's
    EXPECT_EQ(save(dir_ / "old.vesk", "new"), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "old.vesk"), "new");
    EXPECT_EQ(mode_of(dir_ / "old.vesk"), S_IFREG | 0660);
    EXPECT_EQ(save(dir_ / "old.vesk", ""), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "old.vesk"), "");
    EXPECT_EQ(listing(), std::set<std::string>{"old.vesk"});
}

// A reader of the old file keeps the old content: the file was replaced, not
// truncated and rewritten.
TEST_F(FileWriter, ReplacesRatherThanRewrites) {
    write_plain(dir_ / "p.vesk", "old content");
    std::ifstream reader(dir_ / "p.vesk", std::ios::binary);
    EXPECT_EQ(save(dir_ / "p.vesk", "new"), std::nullopt);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), "old content");
    EXPECT_EQ(read_all(dir_ / "p.vesk"), "new");
}

TEST_F(FileWriter, SymbolicLinkChainIsKeptAndItsFileReplaced) {
    fs::create_directory(dir_ / "real");
    write_plain(dir_ / "real" / "file.vesk", "old", 0600);
    fs::create_symlink("real/file.vesk", dir_ / "middle.vesk");  // relative to the link
    fs::create_symlink(dir_ / "middle.vesk", dir_ / "link.vesk");
    EXPECT_EQ(save(dir_ / "link.vesk", "new"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.vesk"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "middle.vesk"));
    EXPECT_EQ(read_all(dir_ / "real" / "file.vesk"), "new");
    EXPECT_EQ(mode_of(dir_ / "real" / "file.vesk"), S_IFREG | 0600);
    EXPECT_EQ(listing(), (std::set<std::string>{"link.vesk", "middle.vesk", "real"}));
    EXPECT_EQ(fs::directory_iterator(dir_ / "real")->path().filename(), "file.vesk");
}

TEST_F(FileWriter, DanglingLinkCreatesTheFileItNames) {
    fs::create_symlink("target.vesk", dir_ / "link.vesk");
    EXPECT_EQ(save(dir_ / "link.vesk", "new"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.vesk"));
    EXPECT_EQ(read_all(dir_ / "target.vesk"), "new");
}

TEST_F(FileWriter, LinkLoopFails) {
    fs::create_symlink("b.vesk", dir_ / "a.vesk");
    fs::create_symlink("a.vesk", dir_ / "b.vesk");
    EXPECT_EQ(
        save(dir_ / "a.vesk", "x"),
        R"(Os { code: 40, kind: FilesystemLoop, message: "Too many levels of symbolic links" })");
    EXPECT_EQ(listing(), (std::set<std::string>{"a.vesk", "b.vesk"}));
}

// Content produced piece by piece is written in order; a failed write stops
// the producer and leaves no temporary file behind.
TEST_F(FileWriter, ContentInPiecesIsWrittenInOrder) {
    const Content three_pieces = [](const PieceWriter& write) {
        for (const std::string_view piece : {"ab", "", "cde"}) {
            if (!write(as_bytes(piece))) return;
        }
    };
    EXPECT_EQ(write_file_atomically((dir_ / "pieces.vesk").string(), three_pieces), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "pieces.vesk"), "abcde");
    EXPECT_EQ(listing(), std::set<std::string>{"pieces.vesk"});
}

TEST_F(FileWriter, FailedPieceStopsTheContent) {
    int offered = 0;
    const Content endless = [&](const PieceWriter& write) {
        while (offered < 100 && write(as_bytes("piece"))) ++offered;
    };
    const fs::path full = dir_ / "full.vesk";
    if (!may_make_devices()) GTEST_SKIP() << "making a device node needs root";
    ASSERT_EQ(make_char_device(full, 7), 0);
    const auto error = write_file_atomically(full.string(), endless);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("StorageFull"), std::string::npos) << *error;
    EXPECT_EQ(offered, 0);
}

TEST_F(FileWriter, DeviceIsWrittenInPlace) {
    const fs::path null = dir_ / "null.vesk";
    if (!may_make_devices()) GTEST_SKIP() << "making a device node needs root";
    ASSERT_EQ(make_char_device(null, 3), 0);
    EXPECT_EQ(save(null, "data"), std::nullopt);
    EXPECT_TRUE(S_ISCHR(mode_of(null)));
    EXPECT_EQ(listing(), std::set<std::string>{"null.vesk"});
}

TEST_F(FileWriter, FifoIsWrittenInPlace) {
    ASSERT_EQ(::mkfifo((dir_ / "pipe.vesk").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_all(dir_ / "pipe.vesk"); });
    const std::string payload(200000, 'p');  // more than a pipe holds at once
    EXPECT_EQ(save(dir_ / "pipe.vesk", payload), std::nullopt);
    reader.join();
    EXPECT_EQ(received, payload);
    EXPECT_TRUE(S_ISFIFO(mode_of(dir_ / "pipe.vesk")));
    EXPECT_EQ(listing(), std::set<std::string>{"pipe.vesk"});
}

struct FailureCase {
    const char* name;  // relative to the test directory
    const char* description;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FileWriterFailure : public FileWriter, public ::testing::WithParamInterface<FailureCase> {};

// Each failure leaves the directory as it was: no file, no temporary file.
TEST_P(FileWriterFailure, ReportsErrorAndLeavesNothing) {
    fs::create_directory(dir_ / "sub.vesk");
    write_plain(dir_ / "plain", "keep");
    const std::set<std::string> before = listing();
    EXPECT_EQ(write_file_atomically((dir_ / GetParam().name).string(), as_bytes("data")),
              GetParam().description);
    EXPECT_EQ(listing(), before);
    EXPECT_TRUE(fs::is_empty(dir_ / "sub.vesk"));
    EXPECT_EQ(read_all(dir_ / "plain"), "keep");
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileWriterFailure,
    ::testing::Values(
        FailureCase{"missing/p.vesk",
                    R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })"},
        FailureCase{"sub.vesk",
                    R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })"},
        FailureCase{"plain/p.vesk",
                    R"(Os { code: 20, kind: NotADirectory, message: "Not a directory" })"},
        FailureCase{"sub.vesk/",
                    R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })"}),
    [](const auto& info) { return param_name::text(info.param.name); });

TEST_F(FileWriter, NulByteTouchesNothing) {
    const std::string name = (dir_ / "a").string() + std::string("\0.vesk", 6);
    EXPECT_EQ(
        write_file_atomically(name, as_bytes("x")),
        R"(Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" })");
    EXPECT_TRUE(listing().empty());
}

TEST_F(FileWriter, TooLongNameIsInvalidFilename) {
    const std::string long_name(300, 'n');
    EXPECT_EQ(save(dir_ / (long_name + ".vesk"), "x"),
              R"(Os { code: 36, kind: InvalidFilename, message: "File name too long" })");
    EXPECT_TRUE(listing().empty());
    // 250 bytes still fit, although a temporary name of that length would not.
    const std::string fitting(245, 'f');
    EXPECT_EQ(save(dir_ / (fitting + ".vesk"), "x"), std::nullopt);
    EXPECT_EQ(listing(), std::set<std::string>{fitting + ".vesk"});
}

TEST_F(FileWriter, FileSizeLimitKeepsOldContent) {
    const std::string old(50, 'o');
    write_plain(dir_ / "p.vesk", old);
    const int status = in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);  // so that write reports EFBIG
        const rlimit limit{100, 100};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        const std::optional<std::string> error = save(dir_ / "p.vesk", std::string(1000, 'n'));
        return error == R"(Os { code: 27, kind: FileTooLarge, message: "File too large" })" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_all(dir_ / "p.vesk"), old);
    EXPECT_EQ(listing(), std::set<std::string>{"p.vesk"});
}

// Runs `body` as an unprivileged user when the tests run as root (root's own
// writes pass every permission bit, as its in-place writes always did).
int as_unprivileged(const std::function<int()>& body) {
    if (::geteuid() != 0) return body();
    return in_child([&] {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 3;
        return body();
    });
}

TEST_F(FileWriter, ReadOnlyFileIsRefused) {
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    const int status = as_unprivileged([&] {
        write_plain(dir_ / "p.vesk", "protected", 0444);
        const std::optional<std::string> error = save(dir_ / "p.vesk", "new");
        return error == R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })"
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_all(dir_ / "p.vesk"), "protected");
    EXPECT_EQ(listing(), std::set<std::string>{"p.vesk"});
}

// A writable file in a directory that takes no new files is written in place,
// as it was before files were replaced.
TEST_F(FileWriter, WritableFileInClosedDirectoryIsWrittenInPlace) {
    write_plain(dir_ / "p.vesk", "old", 0666);
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    const int status =
        as_unprivileged([&] { return save(dir_ / "p.vesk", "new") == std::nullopt ? 0 : 1; });
    ASSERT_EQ(::chmod(dir_.c_str(), 0700), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_all(dir_ / "p.vesk"), "new");
    EXPECT_EQ(listing(), std::set<std::string>{"p.vesk"});
}

// ---- What the kernel accepts, and what the old file carried ---------------------

ino_t inode_of(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_ino;
}

// Makes `depth` levels of 250-byte directories below `top`, each relative to
// the last, since their whole path may be longer than any path the system
// takes; a descriptor of the deepest.
int make_deep(int top, int depth) {
    const std::string name(250, 'e');
    int fd = ::dup(top);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    return fd;
}

// A name of 4095 bytes, the most open() takes, is saved although its directory
// joined with a temporary file's name would be longer; one byte more is refused.
TEST_F(FileWriter, LongestPathIsSaved) {
    std::string directory = dir_.string();
    const std::size_t room = 4095 - std::string_view("/x.vesk").size();
    while (room - directory.size() > 202) directory += "/" + std::string(200, 'd');
    directory += "/" + std::string(room - directory.size() - 1, 'd');
    fs::create_directories(directory);
    const std::string path = directory + "/x.vesk";
    ASSERT_EQ(path.size(), 4095u);
    write_plain(path, "old");
    EXPECT_EQ(save(path, "new"), std::nullopt);
    EXPECT_EQ(read_all(path), "new");
    EXPECT_EQ(save(path, "newer"), std::nullopt);
    EXPECT_EQ(read_all(path), "newer");
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), {}), 1);
    EXPECT_EQ(save(directory + "/xy.vesk", "x"),
              R"(Os { code: 36, kind: InvalidFilename, message: "File name too long" })");
}

// The kernel follows a link relative to the directory that holds it, however
// long that directory's path joined with the link's text would be.
TEST_F(FileWriter, LinkWhoseJoinedPathIsTooLongIsFollowed) {
    const fs::path link_directory = dir_ / std::string(250, 'l') / std::string(250, 'l');
    fs::create_directories(link_directory);
    const int top = ::open(link_directory.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(top, 0);
    // From the link's directory, a 15-level chain: 3765 bytes more, past 4095 in all.
    const int deepest = make_deep(top, 15);
    ASSERT_GE(deepest, 0);
    std::string text;
    for (int level = 0; level < 15; ++level) text += std::string(250, 'e') + "/";
    text += "x.vesk";
    ASSERT_GT(link_directory.string().size() + 1 + text.size(), 4095u);
    ASSERT_EQ(::symlinkat(text.c_str(), top, "link.vesk"), 0);
    for (const char* content : {"created", "replaced"}) {
        EXPECT_EQ(save(link_directory / "link.vesk", content), std::nullopt);
        EXPECT_EQ(read_all("/proc/self/fd/" + std::to_string(deepest) + "/x.vesk"), content);
    }
    EXPECT_TRUE(fs::is_symlink(link_directory / "link.vesk"));
    EXPECT_EQ(std::distance(fs::directory_iterator(link_directory), {}), 2);  // the chain, the link
    ::close(deepest);
    ::close(top);
}

// Replacing a file with a second name would leave the old content under that
// name; it is written in place, so that both names see the new content.
TEST_F(FileWriter, FileWithSecondHardLinkIsWrittenInPlace) {
    write_plain(dir_ / "p.vesk", std::string(5000, 'o'));
    ASSERT_EQ(::link((dir_ / "p.vesk").c_str(), (dir_ / "other.vesk").c_str()), 0);
    const ino_t inode = inode_of(dir_ / "p.vesk");
    EXPECT_EQ(save(dir_ / "p.vesk", "new"), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "other.vesk"), "new");
    EXPECT_EQ(inode_of(dir_ / "p.vesk"), inode);
    EXPECT_EQ(listing(), (std::set<std::string>{"other.vesk", "p.vesk"}));
}

// The replacement carries the old file's extended attributes, and is still a
// replacement (a new file), not a write in place.
TEST_F(FileWriter, ExtendedAttributesAreCopied) {
    write_plain(dir_ / "p.vesk", "old");
    std::map<std::string, std::string> attributes = {
        {"user.note", "kept"},
        {"user.empty", ""},
        {"user.binary", std::string("a\0b", 3) + std::string(3000, 'v')},
    };
    if (::geteuid() == 0) attributes["trusted.note"] = "root's";
    for (const auto& [name, value] : attributes) {
        if (::setxattr((dir_ / "p.vesk").c_str(), name.c_str(), value.data(), value.size(), 0) !=
            0) {
            GTEST_SKIP() << "no extended attribute " << name << " here: " << std::strerror(errno);
        }
    }
    const ino_t inode = inode_of(dir_ / "p.vesk");
    EXPECT_EQ(save(dir_ / "p.vesk", "new"), std::nullopt);
    EXPECT_EQ(read_all(dir_ / "p.vesk"), "new");
    for (const auto& [name, value] : attributes) {
        std::string copied(value.size() + 1, '\0');
        copied.resize(static_cast<std::size_t>(std::max<ssize_t>(
            ::getxattr((dir_ / "p.vesk").c_str(), name.c_str(), copied.data(), copied.size()), 0)));
        EXPECT_EQ(copied, value) << name;
    }
    EXPECT_NE(inode_of(dir_ / "p.vesk"), inode);
    EXPECT_EQ(listing(), std::set<std::string>{"p.vesk"});
}

}  // namespace
}  // namespace protocols
