#include "value_text.hpp"

#include <charconv>
#include <variant>

#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

void put_number(std::string& out, std::uint64_t value) {
    char digits[20];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void put_value(std::string& out, bool value) {
    out += value ? "true" : "false";
}
void put_value(std::string& out, std::uint64_t value) {
    put_number(out, value);
}
void put_value(std::string& out, double value) {
    protocols::write_float(out, value);
}
void put_value(std::string& out, const std::string& value) {
    protocols::write_json_string(out, value);
}

void put_value(std::string& out, const protocols::Samples& samples) {
    out += '[';
    put_number(out, samples.size());
    out += samples.size() == 1 ? " sample]" : " samples]";
}

void put_value(std::string& out, const protocols::Signal& signal) {
    std::visit(
        [&](const auto& params) {
            out += std::remove_cvref_t<decltype(params)>::variant_name;
            out += '(';
            put_value(out, params);
            out += ')';
        },
        signal);
}

}  // namespace vesk
