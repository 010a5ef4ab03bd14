#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "crc32.hpp"
#include "npz_writer.hpp"
#include "protocols/file_output.hpp"

namespace vesk {
namespace {

// One bit at a time, straight from the definition.
std::uint32_t bitwise_crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320 & (0u - (c & 1)));
    }
    return ~c;
}

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32, CheckValues) {
    EXPECT_EQ(crc32(bytes_of("")), 0u);
    EXPECT_EQ(crc32(bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytes_of("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

// Seeded splits of random bytes, either side empty, lengths at and around
// powers of two (each bit of the length takes its own power of x).
TEST(Crc32, CombineGivesTheChecksumOfTheJoinedBytes) {
    std::mt19937 random(99);
    std::vector<std::uint8_t> data(70000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (const std::size_t length : {0u, 1u, 2u, 3u, 255u, 256u, 257u, 4096u, 65535u, 70000u}) {
        for (int trial = 0; trial < 8; ++trial) {
            const std::size_t cut = trial == 0 ? 0 : trial == 1 ? length : random() % (length + 1);
            const std::uint8_t* p = data.data();
            ASSERT_EQ(crc32_combine(crc32({p, cut}), crc32({p + cut, length - cut}), length - cut),
                      crc32({p, length}))
                << length << " cut at " << cut;
        }
    }
}

// Every start alignment and tail length of the eight-byte loop, and the
// same bytes fed in uneven pieces.
TEST(Crc32, MatchesTheBitwiseDefinitionAtAnyOffsetLengthAndSplit) {
    std::mt19937 random(1234);
    std::vector<std::uint8_t> data(4096 + 16);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (std::size_t start = 0; start < 16; ++start) {
        for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 4095u}) {
            const std::uint8_t* p = data.data() + start;
            ASSERT_EQ(crc32({p, length}), bitwise_crc32(p, length)) << start << " " << length;
            Crc32 pieces;
            const std::size_t cut = length / 3;
            pieces.update({p, cut});
            pieces.update({p + cut, length - cut});
            ASSERT_EQ(pieces.value(), bitwise_crc32(p, length)) << start << " " << length;
        }
    }
}

std::uint64_t little_endian(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
    return value;
}

// An entry whose local header starts past 4 GiB keeps its offset in a ZIP64
// extra field. The first entry's 4 GiB, read from memory that is never
// written, go to a null device of the test's own (only root can make one);
// the descriptor is then pointed at a regular file, which gets the rest.
TEST(NpzWriter, AnEntryPast4GiBKeepsItsOffsetInAZip64ExtraField) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "npz-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    const fs::path null_device = folder / "null", tail = folder / "tail.npz";
    ASSERT_EQ(::mknod(null_device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)), 0) << errno;
    const int fd = ::open(null_device.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fs::remove_all(folder);
        GTEST_SKIP() << "no device of the test's own here: " << std::strerror(errno);
    }

    // The largest entry add() takes (header and values below 2^32 - 1 bytes),
    // so that with its local header it ends past 2^32 - 1.
    constexpr std::uint64_t MAX_U32 = 0xFFFFFFFF;
    const std::size_t count = (MAX_U32 - 1 - 128) / 2;
    ASSERT_EQ(npy_int16_header(count).size(), 128u);
    void* const zeros =
        ::mmap(nullptr, 2 * count, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    NpzWriter writer([fd](std::string_view piece) {
        return !protocols::write_all(
            fd, {reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()});
    });
    const bool added = writer.add("a", {static_cast<const std::int16_t*>(zeros), count});
    ::munmap(zeros, 2 * count);
    ASSERT_TRUE(added) << std::strerror(errno);
    const int regular = ::open(tail.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(regular, 0);
    ASSERT_EQ(::dup2(regular, fd), fd);
    ::close(regular);
    const std::int16_t values[] = {1, -2, 3};
    ASSERT_TRUE(writer.add("b", values));
    ASSERT_TRUE(writer.finish());
    ::close(fd);

    std::ifstream in(tail, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove_all(folder);
    const std::uint64_t b_offset = 30 + 5 + 128 + 2 * count;  // where "b"'s local header is
    ASSERT_GT(b_offset, MAX_U32);
    const std::size_t directory = 30 + 5 + npy_int16_header(3).size() + sizeof values;
    const std::size_t first = directory, second = first + 46 + 5;
    ASSERT_GT(bytes.size(), second + 46 + 5 + 12);
    EXPECT_EQ(little_endian(bytes, first + 6, 2), 20u);   // version needed: no ZIP64
    EXPECT_EQ(little_endian(bytes, first + 30, 2), 0u);   // no extra field
    EXPECT_EQ(little_endian(bytes, first + 42, 4), 0u);   // its offset
    EXPECT_EQ(little_endian(bytes, second + 6, 2), 45u);  // version needed: ZIP64
    EXPECT_EQ(little_endian(bytes, second + 30, 2), 12u);
    EXPECT_EQ(little_endian(bytes, second + 42, 4), MAX_U32);
    const std::size_t extra = second + 46 + 5;
    EXPECT_EQ(little_endian(bytes, extra, 2), 1u);      // the ZIP64 extra field's id
    EXPECT_EQ(little_endian(bytes, extra + 2, 2), 8u);  // and the length of what follows
    EXPECT_EQ(little_endian(bytes, extra + 4, 8), b_offset);
    EXPECT_EQ(little_endian(bytes, extra + 12, 4), 0x06064B50u);  // the ZIP64 end record next
}

}  // namespace
}  // namespace vesk
