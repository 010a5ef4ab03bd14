#include "protocols/encoder.hpp"

#include <algorithm>
#include <array>
#include <variant>

#include "byte_order.hpp"
#include "protocols/bulk_buffer.hpp"
#include "protocols/float_bits.hpp"
#include "sample_wire.hpp"
#include "varint.hpp"

namespace protocols {
namespace {

// Samples encoded between two resizes of the buffer: at most 48 KiB of output.
constexpr std::size_t SAMPLE_CHUNK = std::size_t{1} << 14;

// A buffer whose resizes leave the new bytes unwritten: the encoder writes
// every byte of a sample chunk's room that it keeps.
using PieceBuffer = std::vector<std::uint8_t, UninitialisedOnResize<std::uint8_t>>;

// Appends the wire form of any protocol value to one buffer (Bytes, or a
// PieceBuffer). Records are walked through their field declarations; only the
// primitives are spelled out.
template <typename Buffer>
class Encoder {
public:
    explicit Encoder(Buffer& out) : out_(out) {}

    // Hands the buffer's bytes to `sink` whenever a sample chunk leaves at
    // least `piece_bytes` in it, then starts the buffer anew; a sink that
    // returns false stops the long loops.
    Encoder(Buffer& out, const PieceSink& sink, std::size_t piece_bytes)
        : out_(out), sink_(&sink), piece_bytes_(piece_bytes) {}

    // The rest of the buffer to the sink; false if the sink stopped the encoding.
    bool hand_over_rest() {
        if (!stopped_ && !out_.empty()) hand_over();
        return !stopped_;
    }

    void put(bool flag) { out_.push_back(flag ? 0x01 : 0x00); }

    void put(std::uint64_t value) {
        std::uint8_t buffer[MAX_VARINT_BYTES];
        out_.insert(out_.end(), buffer, put_varint(buffer, value));
    }

    // Bit for bit: NaN payloads and negative zero survive.
    void put(double value) {
        std::uint8_t buffer[sizeof(double)];
        store_little_endian(buffer, float_bits(value));
        out_.insert(out_.end(), buffer, buffer + sizeof buffer);
    }

    void put(const std::string& text) {
        put(static_cast<std::uint64_t>(text.size()));  // bytes, not characters
        out_.insert(out_.end(), text.begin(), text.end());
    }

    template <typename T>
    void put(const std::vector<T>& list) {
        put(static_cast<std::uint64_t>(list.size()));
        for (const T& element : list) put(element);
    }

    // The hot path, in chunks whose upper bound the buffer is resized to and
    // then shrunk from, so that at most one chunk's worth of memory past the
    // bytes used is ever touched.
    void put(const Samples& samples) {
        put(static_cast<std::uint64_t>(samples.size()));
        const std::int16_t* next = samples.data();
        const std::int16_t* const last = next + samples.size();
        while (next != last && !stopped_) {
            const std::int16_t* const chunk_end =
                next + std::min<std::size_t>(SAMPLE_CHUNK, static_cast<std::size_t>(last - next));
            const std::size_t used = out_.size();
            resize_for_bulk_write(
                out_, used + static_cast<std::size_t>(chunk_end - next) * MAX_SAMPLE_BYTES +
                          SAMPLE_WIRE_SLACK);
            std::uint8_t* const p = put_sample_wire_forms(next, chunk_end, out_.data() + used);
            next = chunk_end;
            out_.resize(static_cast<std::size_t>(p - out_.data()));
            if (sink_ != nullptr && out_.size() >= piece_bytes_) hand_over();
        }
    }

    // A fixed-size array has no count on the wire.
    template <std::size_t N>
    void put(const std::array<bool, N>& flags) {
        for (const bool flag : flags) put(flag);
    }

    void put(const Signal& signal) {
        put(static_cast<std::uint64_t>(signal.index()));
        std::visit([&](const auto& params) { put(params); }, signal);
    }

    template <Record R>
    void put(const R& record) {
        for_each_field(record, [&](std::string_view, const auto& member) { put(member); });
    }

private:
    void hand_over() {
        stopped_ = !(*sink_)(std::span<const std::uint8_t>(out_));
        out_.clear();
    }

    Buffer& out_;
    const PieceSink* sink_ = nullptr;
    std::size_t piece_bytes_ = 0;
    bool stopped_ = false;
};

// The exact encoded size of a value, without encoding it. Sample lists take a
// branch-free pass over their values, which vectorises.
class EncodedSize {
public:
    static std::size_t of(bool) { return 1; }
    static std::size_t of(std::uint64_t value) { return varint_length(value); }
    static std::size_t of(double) { return sizeof(double); }
    static std::size_t of(const std::string& text) {
        return of(std::uint64_t{text.size()}) + text.size();
    }
    static std::size_t of(const Samples& samples) {
        std::size_t total = of(std::uint64_t{samples.size()});
        constexpr std::size_t PART = std::size_t{1} << 16;  // 3 * 2^16 fits a u32 sum
        for (std::size_t start = 0; start < samples.size(); start += PART) {
            const std::size_t end = std::min(samples.size(), start + PART);
            std::uint32_t sum = 0;
            for (std::size_t i = start; i < end; ++i) {
                const std::uint16_t z = zigzag(samples[i]);
                sum += 1u + (z >= 0x80) + (z >= 0x4000);
            }
            total += sum;
        }
        return total;
    }
    template <typename T>
    static std::size_t of(const std::vector<T>& list) {
        std::size_t size = of(std::uint64_t{list.size()});
        for (const T& element : list) size += of(element);
        return size;
    }
    template <std::size_t N>
    static std::size_t of(const std::array<bool, N>&) {
        return N;
    }
    static std::size_t of(const Signal& signal) {
        return of(std::uint64_t{signal.index()}) +
               std::visit([](const auto& params) { return of(params); }, signal);
    }
    template <Record R>
    static std::size_t of(const R& record) {
        std::size_t size = 0;
        for_each_field(record, [&](std::string_view, const auto& member) { size += of(member); });
        return size;
    }
};

}  // namespace

void serialize(EncodedValue value, Bytes& out) {
    value.visit([&](const auto& part) { Encoder<Bytes>(out).put(part); });
}

Bytes encode_file(const Settings& settings) {
    // One allocation, with room for the last sample chunk's slack, and huge
    // pages only where the file's own bytes will be: a huge page past its end
    // would count up to 2 MiB more resident memory.
    const std::size_t size = EncodedSize::of(settings);
    Bytes out;
    out.reserve(size + SAMPLE_CHUNK * MAX_SAMPLE_BYTES + SAMPLE_WIRE_SLACK);
    advise_huge_pages(out.data(), size);
    serialize(settings, out);
    return out;
}

bool encode_file_in_pieces(const Settings& settings, std::size_t piece_bytes,
                           const PieceSink& sink) {
    // One buffer for every piece: a piece and the sample chunk that filled it.
    PieceBuffer buffer;
    buffer.reserve(piece_bytes + SAMPLE_CHUNK * MAX_SAMPLE_BYTES + SAMPLE_WIRE_SLACK);
    Encoder<PieceBuffer> encoder(buffer, sink, piece_bytes);
    encoder.put(settings);
    return encoder.hand_over_rest();
}

}  // namespace protocols
