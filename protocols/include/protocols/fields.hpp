// One declaration per record: the ordered list of its fields. The encoder, the
// text form and the decoder all walk this list, so they cannot disagree on the
// order or the set of fields.
#pragma once

#include <concepts>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace protocols {

template <typename Owner, typename Member>
struct Field {
    std::string_view name;
    Member Owner::*member;
};

template <typename Owner, typename Member>
constexpr Field<Owner, Member> field(std::string_view name, Member Owner::*member) {
    return {name, member};
}

// A record declares `static constexpr std::string_view type_name` and
// `static constexpr auto fields = std::make_tuple(field(...), ...)`.
template <typename T>
concept Record = requires {
    { T::type_name } -> std::convertible_to<std::string_view>;
    std::tuple_size_v<std::remove_cvref_t<decltype(T::fields)>>;
};

// Calls visit(name, member) for every field of `record` in declaration order;
// `member` is const exactly when `record` is.
template <typename T, typename Visit>
requires Record<std::remove_const_t<T>>
constexpr void for_each_field(T& record, Visit&& visit) {
    std::apply([&](const auto&... f) { (visit(f.name, record.*(f.member)), ...); },
               std::remove_const_t<T>::fields);
}

// Calls visit(name, a.*member, b.*member) for every field of two records of
// one type in declaration order, for walkers that compare records.
template <typename T, typename Visit>
requires Record<T>
constexpr void for_each_field_pair(const T& a, const T& b, Visit&& visit) {
    std::apply([&](const auto&... f) { (visit(f.name, a.*(f.member), b.*(f.member)), ...); },
               T::fields);
}

}  // namespace protocols
