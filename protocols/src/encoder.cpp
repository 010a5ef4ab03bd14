#include "protocols/encoder.hpp"

#include <array>
#include <bit>
#include <variant>

#include "bulk_buffer.hpp"
#include "byte_order.hpp"
#include "varint.hpp"

namespace protocols {
namespace {

// The wire bytes of every sample, indexed by the sample's bits as a u16: the
// 1 to 3 varint bytes of its zigzag value from the lowest byte up, and their
// count in the top byte. One load per sample instead of branches on its size.
constexpr auto SAMPLE_WIRE_FORMS = [] {
    std::array<std::uint32_t, 1u << 16> table{};
    for (std::uint32_t bits = 0; bits < table.size(); ++bits) {
        std::uint8_t bytes[MAX_SAMPLE_BYTES]{};
        const auto count = put_varint(bytes, zigzag(static_cast<std::int16_t>(bits))) - bytes;
        std::uint32_t entry = static_cast<std::uint32_t>(count) << 24;
        for (std::size_t i = 0; i < MAX_SAMPLE_BYTES; ++i)
            entry |= std::uint32_t{bytes[i]} << (8 * i);
        table[bits] = entry;
    }
    return table;
}();

// Appends the wire form of any protocol value to one buffer. Records are
// walked through their field declarations; only the primitives are spelled out.
class Encoder {
public:
    explicit Encoder(Bytes& out) : out_(out) {}

    void put(bool flag) { out_.push_back(flag ? 0x01 : 0x00); }

    void put(std::uint64_t value) {
        std::uint8_t buffer[MAX_VARINT_BYTES];
        out_.insert(out_.end(), buffer, put_varint(buffer, value));
    }

    // Bit for bit: NaN payloads and negative zero survive.
    void put(double value) {
        std::uint8_t buffer[sizeof(double)];
        store_little_endian(buffer, std::bit_cast<std::uint64_t>(value));
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

    // The hot path: one resize to an upper bound, one table load and one
    // 4-byte store per sample, one shrink to the bytes used. The store's top
    // byte (the count) is overwritten by the next sample or falls in the slack.
    void put(const std::vector<std::int16_t>& samples) {
        put(static_cast<std::uint64_t>(samples.size()));
        const std::size_t start = out_.size();
        resize_for_bulk_write(out_, start + samples.size() * MAX_SAMPLE_BYTES + 1);
        std::uint8_t* p = out_.data() + start;
        for (const std::int16_t sample : samples) {
            const std::uint32_t entry = SAMPLE_WIRE_FORMS[static_cast<std::uint16_t>(sample)];
            store_little_endian(p, entry);
            p += entry >> 24;
        }
        out_.resize(static_cast<std::size_t>(p - out_.data()));
    }

    // A fixed-size array has no count on the wire.
    template <std::size_t N>
    void put(const std::array<bool, N>& flags) {
        for (const bool flag : flags) put(flag);
    }

    void put(const Signal& signal) {
        put(static_cast<std::uint64_t>(signal.index()));
        std::visit([this](const auto& params) { put(params); }, signal);
    }

    template <Record R>
    void put(const R& record) {
        for_each_field(record, [this](std::string_view, const auto& member) { put(member); });
    }

private:
    Bytes& out_;
};

template <typename T>
void encode_into(const T& value, Bytes& out) {
    Encoder(out).put(value);
}

}  // namespace

void serialize(const Settings& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const MachineConfig& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const Coil& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const LCSetting& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const ChannelSettings& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const SignalSourceSelection& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const Signal& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const ConstantSignalParams& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const SineSignalParams& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const RampSignalParams& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const MixedSignalParams& value, Bytes& out) {
    encode_into(value, out);
}
void serialize(const ArbitrarySignalParams& value, Bytes& out) {
    encode_into(value, out);
}

Bytes encode_file(const Settings& settings) {
    Bytes out;
    serialize(settings, out);
    return out;
}

}  // namespace protocols
