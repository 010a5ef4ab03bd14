// A value of a record on one line, as the text form prints its scalars:
// "60.0", "NaN", "true", "SignalSourceSelection { internal: 3, external: 2,
// external_selected: false }", a sample list as "[351 samples]"; a text in
// its JSON form ("\"Default\"", "\"a\u202eb\""), as every one-line output
// of the command quotes a name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocols/settings.hpp"

namespace vesk {

void put_number(std::string& out, std::uint64_t value);

void put_value(std::string& out, bool value);
void put_value(std::string& out, std::uint64_t value);
void put_value(std::string& out, double value);
void put_value(std::string& out, const std::string& value);
void put_value(std::string& out, const protocols::Samples& samples);
void put_value(std::string& out, const protocols::Signal& signal);

template <protocols::Record R>
void put_value(std::string& out, const R& record) {
    out += R::type_name;
    out += " {";
    const char* separator = " ";
    protocols::for_each_field(record, [&](std::string_view name, const auto& member) {
        out += separator;
        out += name;
        out += ": ";
        put_value(out, member);
        separator = ", ";
    });
    out += " }";
}

template <typename T>
std::string value_text(const T& value) {
    std::string out;
    put_value(out, value);
    return out;
}

}  // namespace vesk
