#include "npz_writer.hpp"

#include <bit>
#include <limits>
#include <utility>

#include "crc32.hpp"

namespace vesk {
namespace {

constexpr std::uint32_t LOCAL_HEADER = 0x04034B50;
constexpr std::uint32_t CENTRAL_HEADER = 0x02014B50;
constexpr std::uint32_t END_OF_DIRECTORY = 0x06054B50;
constexpr std::uint32_t ZIP64_END_OF_DIRECTORY = 0x06064B50;
constexpr std::uint32_t ZIP64_LOCATOR = 0x07064B50;
constexpr std::uint16_t ZIP64_EXTRA = 0x0001;
constexpr std::uint16_t VERSION_STORED = 20;  // 2.0: stored entries
constexpr std::uint16_t VERSION_ZIP64 = 45;   // 4.5: ZIP64 records
constexpr std::uint16_t MADE_ON_UNIX = 3 << 8;
constexpr std::uint32_t REGULAR_FILE_0644 = 0100644u << 16;
// 1980-01-01 00:00, the first DOS date: the archive is the same for the same record.
constexpr std::uint16_t DOS_TIME = 0, DOS_DATE = (1 << 5) | 1;
constexpr std::uint32_t MAX_U32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint16_t MAX_U16 = std::numeric_limits<std::uint16_t>::max();

// ZIP fields are little-endian, whatever the host.
class Bytes {
public:
    Bytes& u16(std::uint16_t v) { return put(v, 2); }
    Bytes& u32(std::uint32_t v) { return put(v, 4); }
    Bytes& u64(std::uint64_t v) { return put(v, 8); }
    Bytes& text(std::string_view s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    std::vector<std::uint8_t> data;

private:
    Bytes& put(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
};

// The fields from "version needed" to "extra field length", which a local
// and a central header share.
void put_shared_fields(Bytes& out, std::uint16_t version, std::uint32_t crc, std::uint32_t size,
                       std::size_t name_length, std::uint16_t extra_length) {
    out.u16(version)
        .u16(0)  // flags
        .u16(0)  // stored, no compression
        .u16(DOS_TIME)
        .u16(DOS_DATE)
        .u32(crc)
        .u32(size)  // compressed
        .u32(size)
        .u16(static_cast<std::uint16_t>(name_length))
        .u16(extra_length);
}

std::uint32_t at_most_u32(std::uint64_t v) {
    return v < MAX_U32 ? static_cast<std::uint32_t>(v) : MAX_U32;
}

std::span<const std::uint8_t> as_bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

std::string npy_int16_header(std::uint64_t count) {
    constexpr std::size_t ALIGNMENT = 64;  // what NumPy writes; it needs 16
    constexpr std::size_t PREFIX = 10;     // magic, version, header length
    const char* descr = std::endian::native == std::endian::little ? "<i2" : ">i2";
    std::string dictionary = std::string("{'descr': '") + descr +
                             "', 'fortran_order': False, 'shape': (" + std::to_string(count) +
                             ",), }";
    const std::size_t padded =
        (PREFIX + dictionary.size() + 1 + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
    dictionary.append(padded - PREFIX - dictionary.size() - 1, ' ');
    dictionary += '\n';
    const auto length = static_cast<std::uint16_t>(dictionary.size());
    std::string header = "\x93NUMPY\x01";
    header += '\0';
    header += static_cast<char>(length & 0xFF);
    header += static_cast<char>(length >> 8);
    return header + dictionary;
}

bool npz_entry_fits(std::uint64_t count) {
    return count < MAX_U32 && npy_int16_header(count).size() + 2 * count < MAX_U32;
}

bool write_npy_int16(std::span<const std::int16_t> values, const protocols::TextSink& write) {
    return write(npy_int16_header(values.size())) &&
           write(
               std::string_view(reinterpret_cast<const char*>(values.data()), values.size_bytes()));
}

bool NpzWriter::write_all(std::span<const std::uint8_t> bytes) {
    if (!sink_(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
        return false;
    }
    offset_ += bytes.size();
    return true;
}

bool NpzWriter::add(std::string_view name, std::span<const std::int16_t> values) {
    return add(name, values,
               crc32({reinterpret_cast<const std::uint8_t*>(values.data()), values.size_bytes()}));
}

bool NpzWriter::add(std::string_view name, std::span<const std::int16_t> values,
                    std::uint32_t values_crc) {
    if (!npz_entry_fits(values.size())) return false;
    const std::string header = npy_int16_header(values.size());
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(values.data()),
                                             values.size_bytes());
    const std::uint64_t size = header.size() + data.size();
    const std::uint32_t crc = crc32_combine(crc32(as_bytes(header)), values_crc, data.size());
    Entry entry{std::string(name) + ".npy", crc, static_cast<std::uint32_t>(size), offset_};
    Bytes local;
    local.u32(LOCAL_HEADER);
    put_shared_fields(local, VERSION_STORED, entry.crc, entry.size, entry.name.size(), 0);
    local.text(entry.name).text(header);
    if (!write_all(local.data) || !write_all(data)) return false;
    entries_.push_back(std::move(entry));
    return true;
}

bool NpzWriter::finish() {
    const std::uint64_t directory_offset = offset_;
    Bytes directory;
    for (const Entry& entry : entries_) {
        const bool far = entry.offset >= MAX_U32;  // its offset goes in a ZIP64 extra field
        directory.u32(CENTRAL_HEADER).u16(MADE_ON_UNIX | VERSION_ZIP64);
        put_shared_fields(directory, far ? VERSION_ZIP64 : VERSION_STORED, entry.crc, entry.size,
                          entry.name.size(), far ? 12 : 0);
        directory
            .u16(0)  // no comment
            .u16(0)  // disk
            .u16(0)  // internal attributes
            .u32(REGULAR_FILE_0644)
            .u32(at_most_u32(entry.offset))
            .text(entry.name);
        if (far) directory.u16(ZIP64_EXTRA).u16(8).u64(entry.offset);
    }
    const std::uint64_t directory_size = directory.data.size();
    const std::uint64_t count = entries_.size();
    Bytes end;
    if (count >= MAX_U16 || directory_offset >= MAX_U32 || directory_size >= MAX_U32) {
        const std::uint64_t zip64_end_offset = directory_offset + directory_size;
        end.u32(ZIP64_END_OF_DIRECTORY)
            .u64(44)  // the size of the rest of this record
            .u16(MADE_ON_UNIX | VERSION_ZIP64)
            .u16(VERSION_ZIP64)
            .u32(0)
            .u32(0)
            .u64(count)
            .u64(count)
            .u64(directory_size)
            .u64(directory_offset);
        end.u32(ZIP64_LOCATOR).u32(0).u64(zip64_end_offset).u32(1);
    }
    const auto count16 = static_cast<std::uint16_t>(count < MAX_U16 ? count : MAX_U16);
    end.u32(END_OF_DIRECTORY)
        .u16(0)
        .u16(0)
        .u16(count16)
        .u16(count16)
        .u32(at_most_u32(directory_size))
        .u32(at_most_u32(directory_offset))
        .u16(0);
    return write_all(directory.data) && write_all(end.data);
}

}  // namespace vesk
