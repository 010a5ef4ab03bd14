// What makes a read-only record behave as a Python value: equality and a hash
// by value (floats by their bits, as the file holds them), a repr that shows
// the fields, and the way back from a record's field values to a record,
// which unpickling takes. Each walks the record's one field list.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>

#include "protocols/fields.hpp"
#include "protocols/settings.hpp"
#include "record_conversion.hpp"

namespace vesk::python {

inline protocols::Signal signal_from_python(nb::handle object);

// ---- Equality, bit for bit ----------------------------------------------------

template <typename T>
bool same_value(const T& a, const T& b) {
    if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    } else if constexpr (std::is_same_v<T, protocols::Samples>) {
        return a.size() == b.size() &&
               (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
    } else if constexpr (std::is_same_v<T, protocols::Signal>) {
        return a.index() == b.index() && std::visit(
                                             [&](const auto& x) {
                                                 using P = std::decay_t<decltype(x)>;
                                                 return same_value(x, std::get<P>(b));
                                             },
                                             a);
    } else if constexpr (protocols::Record<T>) {
        bool same = true;
        protocols::for_each_field_pair(a, b, [&](std::string_view, const auto& x, const auto& y) {
            same = same && same_value(x, y);
        });
        return same;
    } else if constexpr (Sequence<T>::value) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const auto& x, const auto& y) { return same_value(x, y); });
    } else {
        return a == b;  // bool, u64, text
    }
}

// ---- Hash, consistent with same_value -----------------------------------------

inline std::uint64_t mix(std::uint64_t h, std::uint64_t value) {
    // boost's hash_combine, widened to 64 bits
    return h ^ (value + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

template <typename T>
std::uint64_t hash_value(const T& value, std::uint64_t h = 0) {
    if constexpr (std::is_same_v<T, double>) {
        return mix(h, std::bit_cast<std::uint64_t>(value));
    } else if constexpr (std::is_same_v<T, protocols::Samples>) {
        const std::string_view bytes(reinterpret_cast<const char*>(value.data()),
                                     value.size() * sizeof(value[0]));
        return mix(mix(h, value.size()), std::hash<std::string_view>{}(bytes));
    } else if constexpr (std::is_same_v<T, protocols::Signal>) {
        return std::visit([&](const auto& x) { return hash_value(x, mix(h, value.index())); },
                          value);
    } else if constexpr (protocols::Record<T>) {
        protocols::for_each_field(value,
                                  [&](std::string_view, const auto& x) { h = hash_value(x, h); });
        return h;
    } else if constexpr (Sequence<T>::value) {
        h = mix(h, value.size());
        for (const auto& element : value) h = hash_value(element, h);
        return h;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return mix(h, std::hash<std::string>{}(value));
    } else {
        return mix(h, static_cast<std::uint64_t>(value));  // bool, u64
    }
}

// ---- repr ---------------------------------------------------------------------

// An arbitrary signal's repr shows this many of its first samples.
inline constexpr std::size_t REPR_SAMPLES = 5;

inline void put_python_repr(std::string& out, nb::handle object) {
    const nb::str text = nb::repr(object);
    out += text.c_str();
}

template <typename T>
void put_repr(std::string& out, const T& value) {
    if constexpr (std::is_same_v<T, double>) {
        put_python_repr(out, nb::float_(value));
    } else if constexpr (std::is_same_v<T, std::string>) {
        put_python_repr(out, nb::str(value.data(), value.size()));
    } else if constexpr (std::is_same_v<T, bool>) {
        out += value ? "True" : "False";
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        out += std::to_string(value);
    } else if constexpr (std::is_same_v<T, protocols::Samples>) {
        out += '<' + std::to_string(value.size()) + (value.size() == 1 ? " sample" : " samples");
        for (std::size_t i = 0; i < std::min(value.size(), REPR_SAMPLES); ++i) {
            out += i == 0 ? ": " : ", ";
            out += std::to_string(value[i]);
        }
        if (value.size() > REPR_SAMPLES) out += ", ...";
        out += '>';
    } else if constexpr (std::is_same_v<T, protocols::Signal>) {
        std::visit([&](const auto& x) { put_repr(out, x); }, value);
    } else if constexpr (protocols::Record<T>) {
        out += T::type_name;
        out += '(';
        bool first = true;
        protocols::for_each_field(value, [&](std::string_view name, const auto& x) {
            if (!first) out += ", ";
            first = false;
            out += name;
            out += '=';
            put_repr(out, x);
        });
        out += ')';
    } else {
        static_assert(Sequence<T>::value);
        out += '(';
        for (const auto& element : value) {
            put_repr(out, element);
            out += ", ";
        }
        // A tuple of one keeps its comma, as Python writes it.
        if (value.size() > 1) out.resize(out.size() - 2);
        if (value.size() == 1) out.pop_back();
        out += ')';
    }
}

// ---- From field values back to a record ---------------------------------------

// A field's value from what python_value gave for it (or what pickle made of
// that): records of the bound classes, tuples, int16 arrays and plain values.
template <typename T>
T value_from_python(nb::handle object) {
    if constexpr (std::is_same_v<T, protocols::Samples>) {
        const auto array = nb::cast<nb::ndarray<const std::int16_t, nb::ndim<1>>>(object);
        protocols::Samples samples(array.shape(0));
        for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = array(i);
        return samples;
    } else if constexpr (std::is_same_v<T, protocols::Signal>) {
        return signal_from_python(object);
    } else if constexpr (protocols::Record<T>) {
        return nb::cast<const T&>(object);
    } else if constexpr (Sequence<T>::value) {
        const nb::tuple items = nb::cast<nb::tuple>(object);
        T out{};
        if constexpr (requires { out.resize(0); }) {
            out.resize(items.size());
        } else if (items.size() != out.size()) {
            throw nb::value_error("a field of fixed length was given another number of values");
        }
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = value_from_python<typename Sequence<T>::Element>(items[i]);
        }
        return out;
    } else {
        return nb::cast<T>(object);
    }
}

inline protocols::Signal signal_from_python(nb::handle object) {
    protocols::Signal signal;
    bool found = false;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((!found && nb::isinstance<std::variant_alternative_t<I, protocols::Signal>>(object)
              ? (signal = nb::cast<const std::variant_alternative_t<I, protocols::Signal>&>(object),
                 found = true)
              : false),
         ...);
    }
    (std::make_index_sequence<std::variant_size_v<protocols::Signal>>());
    if (!found) throw nb::type_error("a signal must be one of the signal parameter records");
    return signal;
}

// A record from the values of its fields, in their order.
template <typename T>
T record_from_fields(const nb::tuple& values) {
    constexpr std::size_t count = std::tuple_size_v<std::remove_cvref_t<decltype(T::fields)>>;
    if (values.size() != count) {
        throw nb::value_error(
            (std::string(T::type_name) + " takes " + std::to_string(count) + " field values")
                .c_str());
    }
    T record{};
    std::size_t i = 0;
    protocols::for_each_field(record, [&](std::string_view, auto& member) {
        member = value_from_python<std::remove_cvref_t<decltype(member)>>(values[i++]);
    });
    return record;
}

}  // namespace vesk::python
