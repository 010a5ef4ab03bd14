// Where the text form and the JSON form go. Each output takes appends of
// small pieces, and a bulk region for sample lists: begin_bulk(max) gives a
// pointer with room for `max` bytes, end_bulk(p) ends the region at p. A
// writer asks for at most SAMPLES_PER_BULK samples' worth of room at once.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "protocols/bulk_buffer.hpp"
#include "protocols/text_form.hpp"

namespace protocols {

// Appends to a std::string, growing it for the bulk region.
class StringOutput {
public:
    static constexpr std::size_t SAMPLES_PER_BULK = std::numeric_limits<std::size_t>::max();

    explicit StringOutput(std::string& out) : out_(out) {}
    void append(std::string_view text) { out_ += text; }
    void append(char c) { out_ += c; }
    void append(std::size_t count, char c) { out_.append(count, c); }
    char* begin_bulk(std::size_t max_bytes) {
        const std::size_t start = out_.size();
        resize_for_bulk_write(out_, start + max_bytes);
        return out_.data() + start;
    }
    void end_bulk(char* end) { out_.resize(static_cast<std::size_t>(end - out_.data())); }
    bool stopped() const { return false; }

private:
    std::string& out_;
};

// Appends to one reused buffer and hands it to a sink whenever it holds at
// least `piece_bytes`, so that the memory used is bounded whatever the
// length of the text. Once the sink has refused a piece, the rest is dropped.
class PieceOutput {
public:
    static constexpr std::size_t SAMPLES_PER_BULK = std::size_t{1} << 14;

    PieceOutput(std::size_t piece_bytes, const TextSink& sink)
        : piece_bytes_(piece_bytes), sink_(sink) {
        buffer_.reserve(piece_bytes + (std::size_t{1} << 20));
    }
    void append(std::string_view text) {
        buffer_ += text;
        hand_over_when_full();
    }
    void append(char c) {
        buffer_ += c;
        hand_over_when_full();
    }
    void append(std::size_t count, char c) {
        buffer_.append(count, c);
        hand_over_when_full();
    }
    char* begin_bulk(std::size_t max_bytes) {
        const std::size_t start = buffer_.size();
        resize_for_bulk_write(buffer_, start + max_bytes);
        return buffer_.data() + start;
    }
    void end_bulk(char* end) {
        buffer_.resize(static_cast<std::size_t>(end - buffer_.data()));
        hand_over_when_full();
    }
    bool stopped() const { return stopped_; }

    // The rest to the sink; false if the sink refused any piece.
    bool finish() {
        if (!buffer_.empty()) hand_over();
        return !stopped_;
    }

private:
    void hand_over_when_full() {
        if (buffer_.size() >= piece_bytes_) hand_over();
    }
    void hand_over() {
        if (!stopped_) stopped_ = !sink_(buffer_);
        buffer_.clear();
    }

    std::size_t piece_bytes_;
    const TextSink& sink_;
    std::string buffer_;
    bool stopped_ = false;
};

}  // namespace protocols
