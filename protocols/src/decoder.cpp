#include "protocols/decoder.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "protocols/bulk_buffer.hpp"
#include "protocols/field_path.hpp"
#include "protocols/float_bits.hpp"
#include "protocols/utf8.hpp"
#include "sample_wire_read.hpp"

namespace protocols {
namespace {

template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename Allocator>
struct IsVector<std::vector<T, Allocator>> : std::true_type {};

template <typename T>
struct IsArray : std::false_type {};
template <typename T, std::size_t N>
struct IsArray<std::array<T, N>> : std::true_type {};

// Fewest bytes any value of T takes on the wire. Counts are checked against
// remaining / min_encoded_size, which bounds every allocation by the input.
template <typename T>
constexpr std::size_t min_encoded_size() {
    if constexpr (std::is_same_v<T, double>) {
        return 8;
    } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::uint64_t> ||
                         std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::string> ||
                         IsVector<T>::value) {
        return 1;  // one byte, one varint byte, or one count byte
    } else if constexpr (IsArray<T>::value) {
        return std::tuple_size_v<T> * min_encoded_size<typename T::value_type>();
    } else if constexpr (std::is_same_v<T, Signal>) {
        return []<std::size_t... I>(std::index_sequence<I...>) {
            return 1 + std::min({min_encoded_size<std::variant_alternative_t<I, Signal>>()...});
        }
        (std::make_index_sequence<std::variant_size_v<Signal>>{});
    } else {
        return std::apply(
            [](const auto&... f) {
                return (std::size_t{0} + ... +
                        min_encoded_size<
                            std::remove_cvref_t<decltype(std::declval<T&>().*(f.member))>>());
            },
            T::fields);
    }
}

// "1 byte", "8 bytes".
std::string count_of(std::size_t n, std::string_view noun) {
    return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

std::string hex_byte(std::uint8_t byte) {
    constexpr std::string_view digits = "0123456789abcdef";
    return {'0', 'x', digits[byte >> 4], digits[byte & 0xF]};
}

// Bytes held ahead of the fast sample loop, far more than its blocks need.
constexpr std::size_t SAMPLE_READ_AHEAD = 4096;

// Bytes that the source writes at once: no zeroing of them beforehand.
using Window = std::vector<std::uint8_t, UninitialisedOnResize<std::uint8_t>>;

// A cursor over the input that remembers where it is in the record tree, so
// that a refusal can name the field. The first failure is kept; every reader
// returns false from then on up to decode_file.
//
// The input is either held whole, or read from a source into a window that
// holds bytes [base_, base_ + held_) of it; offsets are always the input's.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes)
        : data_(bytes.data()), held_(bytes.size()), size_(bytes.size()) {}
    Reader(ByteSource& source, std::size_t size, Window& window)
        : data_(window.data()), size_(size), source_(&source), window_(&window) {}

    std::size_t offset() const { return base_ + pos_; }
    std::size_t remaining() const { return size_ - offset(); }
    // The bytes held from offset() on: all that remain, unless read from a source.
    const std::uint8_t* cursor() const { return data_ + pos_; }
    const std::uint8_t* end() const { return data_ + held_; }

    // Moves past n bytes that a bulk reader took from cursor(); n <= end() - cursor().
    void skip(std::size_t n) { pos_ += n; }

    // Reads on from the source when fewer than n bytes are held and more
    // remain: for bulk readers, which run faster on a longer stretch.
    void read_ahead(std::size_t n) {
        if (source_ != nullptr && held_ - pos_ < n && base_ + held_ < size_) refill(0);
    }

    // Points `out` at the next n bytes and moves past them. `out` stays valid
    // up to the next take.
    bool take(std::size_t n, const std::uint8_t*& out, std::string_view what) {
        if (remaining() < n) {
            return fail(offset(), "unexpected end of input: " + std::string(what) + " needs " +
                                      count_of(n, "byte") + ", " + std::to_string(remaining()) +
                                      " left");
        }
        if (held_ - pos_ < n && !refill(n)) {
            return fail(base_ + held_, "the input ended after " + std::to_string(base_ + held_) +
                                           " of its " + count_of(size_, "byte"));
        }
        out = data_ + pos_;
        pos_ += n;
        return true;
    }

    bool fail(std::size_t at, std::string message) {
        error_.offset = at;
        error_.message = std::move(message);
        error_.path = path_.text();
        return false;
    }

    std::size_t enter(std::string_view name) { return path_.enter(name); }
    std::size_t enter(std::size_t index) { return path_.enter(index); }
    void leave(std::size_t mark) { path_.leave(mark); }

    DecodeError take_error() { return std::move(error_); }

private:
    // Moves the unread bytes to the front of the window (grown to n bytes if
    // smaller) and reads after them until it is full or the input's end is
    // held. False if fewer than n bytes are held then.
    bool refill(std::size_t n) {
        const std::size_t kept = held_ - pos_;
        if (window_->size() < n) window_->resize(n);
        std::memmove(window_->data(), window_->data() + pos_, kept);
        data_ = window_->data();
        base_ += pos_;
        pos_ = 0;
        held_ = kept;
        const std::size_t wanted = std::min(window_->size(), size_ - base_);
        while (held_ < wanted) {
            const std::size_t got = source_->read_some(window_->data() + held_, wanted - held_);
            if (got == 0) break;
            held_ += got;
        }
        return held_ >= n;
    }

    const std::uint8_t* data_;  // the window, or the whole input
    std::size_t pos_ = 0;       // of the cursor in the window
    std::size_t held_ = 0;      // bytes in the window
    std::size_t base_ = 0;      // offset of the window's first byte in the input
    std::size_t size_;          // of the whole input
    ByteSource* source_ = nullptr;
    Window* window_ = nullptr;
    FieldPath path_;
    DecodeError error_;
};

// Runs `read` with `segment` appended to the reader's path.
template <typename Segment, typename Read>
bool within(Reader& r, Segment segment, Read&& read) {
    const std::size_t mark = r.enter(segment);
    const bool ok = read();
    r.leave(mark);
    return ok;
}

// Unsigned LEB128, shortest form only, at most 64 bits.
bool read_varint(Reader& r, std::uint64_t& out) {
    const std::size_t start = r.offset();
    std::uint64_t value = 0;
    for (unsigned i = 0; i < 10; ++i) {
        const std::uint8_t* p;
        if (r.remaining() == 0) return r.fail(start, "unexpected end of input inside a varint");
        if (!r.take(1, p, "varint")) return false;
        const std::uint8_t byte = *p;
        if (i == 9 && byte > 0x01) return r.fail(start, "varint exceeds 64 bits");
        value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0) {
            // A zero final group after others means the value fits in fewer bytes.
            if (i > 0 && byte == 0) return r.fail(start, "overlong varint (not the shortest form)");
            out = value;
            return true;
        }
    }
    return false;  // not reached: the tenth byte either ends the varint or fails
}

bool read(Reader& r, std::uint64_t& out) {
    return read_varint(r, out);
}

bool read(Reader& r, bool& out) {
    const std::uint8_t* p;
    if (!r.take(1, p, "bool")) return false;
    if (*p > 1) return r.fail(r.offset() - 1, "invalid bool byte " + hex_byte(*p));
    out = *p == 1;
    return true;
}

bool read(Reader& r, double& out) {
    const std::uint8_t* p;
    if (!r.take(8, p, "f64")) return false;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];  // little-endian on any host
    out = float_from_bits(bits);
    return true;
}

// A sample is a zigzag-mapped i16 carried in a varint.
bool read(Reader& r, std::int16_t& out) {
    const std::size_t start = r.offset();
    std::uint64_t zigzag;
    if (!read_varint(r, zigzag)) return false;
    if (zigzag > 0xFFFF) {
        return r.fail(start, "zigzag sample " + std::to_string(zigzag) + " exceeds 16 bits");
    }
    const auto z = static_cast<std::uint16_t>(zigzag);
    out = static_cast<std::int16_t>((z >> 1) ^ -(z & 1));
    return true;
}

// Reads a list length and refuses one the remaining bytes could not hold.
bool read_count(Reader& r, std::size_t element_min_size, std::uint64_t& count,
                std::string_view what = "count") {
    const std::size_t start = r.offset();
    if (!read_varint(r, count)) return false;
    if (count > r.remaining() / element_min_size) {
        return r.fail(start, std::string(what) + " " + std::to_string(count) +
                                 " exceeds what the remaining " + std::to_string(r.remaining()) +
                                 " bytes can hold");
    }
    return true;
}

bool read(Reader& r, std::string& out) {
    std::uint64_t length;
    if (!read_count(r, 1, length, "length")) return false;
    const std::size_t start = r.offset();
    const std::uint8_t* p;
    if (!r.take(length, p, "string")) return false;  // only when a source gives out
    out.assign(reinterpret_cast<const char*>(p), length);
    if (!is_valid_utf8(out)) return r.fail(start, "text is not valid UTF-8");
    return true;
}

template <typename T>
requires Record<T>
bool read(Reader& r, T& record);
bool read(Reader& r, Signal& out);

// A list element before its fields are read. Coil's default constructor tunes
// the default coil; its plain constructor does nothing.
template <typename T>
T blank() {
    if constexpr (std::is_same_v<T, Coil>) {
        return Coil({}, 0.0, 0.0, 0.0, {});
    } else {
        return T{};
    }
}

template <typename T>
bool read(Reader& r, std::vector<T>& out) {
    std::uint64_t count;
    if (!read_count(r, min_encoded_size<T>(), count)) return false;
    out.clear();
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(blank<T>());
        if (!within(r, i, [&] { return read(r, out.back()); })) return false;
    }
    return true;
}

// The bulk of a long protocol. The fast loop takes every well-formed sample;
// where it stops, one sample is read exactly, which either names the fault
// (with the same offset and path as any other value) or lets it go on. A
// window read from a source is refilled before it runs short, so that the
// fast loop rarely stops at its end.
bool read(Reader& r, Samples& out) {
    std::uint64_t count;
    if (!read_count(r, min_encoded_size<std::int16_t>(), count)) return false;
    out.clear();
    resize_for_bulk_write(out, count);  // every element is written below
    std::size_t done = 0;
    while (done < count) {
        r.read_ahead(SAMPLE_READ_AHEAD);
        const SampleRun run =
            take_sample_wire_forms(r.cursor(), r.end(), out.data() + done, count - done);
        r.skip(run.bytes);
        done += run.samples;
        if (done == count) break;
        if (!within(r, done, [&] { return read(r, out[done]); })) return false;
        ++done;
    }
    return true;
}

template <typename T, std::size_t N>
bool read(Reader& r, std::array<T, N>& out) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!within(r, i, [&] { return read(r, out[i]); })) return false;
    }
    return true;
}

template <std::size_t I = 0>
bool read_alternative(Reader& r, Signal& out, std::uint64_t variant) {
    if constexpr (I < std::variant_size_v<Signal>) {
        if (variant != I) return read_alternative<I + 1>(r, out, variant);
        auto& params = out.emplace<I>();
        using Params = std::variant_alternative_t<I, Signal>;
        return within(r, Params::variant_name, [&] { return read(r, params); });
    } else {
        return false;  // not reached: the caller checked the variant index
    }
}

bool read(Reader& r, Signal& out) {
    const std::size_t start = r.offset();
    std::uint64_t variant;
    if (!read_varint(r, variant)) return false;
    if (variant >= std::variant_size_v<Signal>) {
        return r.fail(start, "unknown signal variant " + std::to_string(variant));
    }
    return read_alternative(r, out, variant);
}

template <typename T>
requires Record<T>
bool read(Reader& r, T& record) {
    bool ok = true;
    for_each_field(record, [&](std::string_view name, auto& member) {
        ok = ok && within(r, name, [&] { return read(r, member); });
    });
    return ok;
}

}  // namespace

std::string DecodeError::describe() const {
    std::string text = "offset " + std::to_string(offset) + ": ";
    if (!path.empty()) text += path + ": ";
    return text + message;
}

namespace {

DecodeResult decode_with(Reader& r) {
    Settings settings;
    if (!read(r, settings)) return r.take_error();
    if (r.remaining() != 0) {
        r.fail(r.offset(), count_of(r.remaining(), "trailing byte") + " after the record");
        return r.take_error();
    }
    return settings;
}

}  // namespace

DecodeResult decode_file(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    return decode_with(r);
}

DecodeResult decode_file(ByteSource& source, std::size_t size, std::size_t piece) {
    Window window;
    resize_for_bulk_write(window, std::max<std::size_t>(std::min(piece, size), 1));
    Reader r(source, size, window);
    return decode_with(r);
}

}  // namespace protocols
