// The path of a field inside a record, as decoding errors name it:
// "machine_config.coils[0].name", "signals[2].Arbitrary.samples[17]". Kept in
// one string that a walk grows as it goes in and cuts back as it comes out.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

namespace protocols {

class FieldPath {
public:
    // Each enter returns the mark that leave() takes to come back out.
    std::size_t enter(std::string_view name) {
        const std::size_t mark = text_.size();
        if (!text_.empty()) text_ += '.';
        text_ += name;
        return mark;
    }
    std::size_t enter(std::size_t index) {
        const std::size_t mark = text_.size();
        char digits[20];
        text_ += '[';
        text_.append(digits, std::to_chars(digits, digits + sizeof digits, index).ptr);
        text_ += ']';
        return mark;
    }
    void leave(std::size_t mark) { text_.resize(mark); }

    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace protocols
