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
consteval Field<Owner, Member> field(std::string_view name, Member Owner::*member) {
    return {name, member};
}

// A record declares `static constexpr std::string_view type_name` and
// `static constexpr auto fields = std::make_tuple(field(...), ...)`, written
// by PROTOCOLS_RECORD below.
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

namespace detail {

template <typename>
struct MemberOwner;

template <typename Owner, typename Member>
struct MemberOwner<Member Owner::*> {
    using type = Owner;
};

}  // namespace detail

// The declared name of one field, found by its member pointer:
// `field_name<&ChannelSettings::amplitude1_source>()` is "amplitude1_source".
// A member that its record does not declare does not compile.
template <auto Member>
consteval std::string_view field_name() {
    using Owner = typename detail::MemberOwner<decltype(Member)>::type;
    std::string_view found;
    std::apply(
        [&](const auto&... f) {
            (
                [&] {
                    if constexpr (std::is_same_v<decltype(f.member), decltype(Member)>) {
                        if (f.member == Member) found = f.name;
                    }
                }(),
                ...);
        },
        Owner::fields);
    if (found.empty()) throw "field_name: the member is not in its record's field list";
    return found;
}

}  // namespace protocols

// Inside a record's struct, PROTOCOLS_RECORD(Type, member, ...) declares its
// type_name (the struct's own name), its field list in the order given, each
// field named by its member's own spelling, and memberwise equality: a name
// is written once, so it cannot differ from the member it stands for.
#define PROTOCOLS_RECORD(Type, ...)                      \
    bool operator==(const Type&) const = default;        \
    static constexpr std::string_view type_name = #Type; \
    static constexpr auto fields = std::make_tuple(PROTOCOLS_FIELDS_(Type, __VA_ARGS__))

// One field(...) per member: each rescan within PROTOCOLS_RESCAN_ takes the
// list one member further, and it rescans far more often than any record
// has members.
#define PROTOCOLS_FIELDS_(Type, ...) \
    __VA_OPT__(PROTOCOLS_RESCAN_(PROTOCOLS_FIELD_(Type, __VA_ARGS__)))
#define PROTOCOLS_FIELD_(Type, member, ...)    \
    ::protocols::field(#member, &Type::member) \
        __VA_OPT__(, PROTOCOLS_FIELD_AGAIN_ PROTOCOLS_PARENS_(Type, __VA_ARGS__))
#define PROTOCOLS_FIELD_AGAIN_() PROTOCOLS_FIELD_
#define PROTOCOLS_PARENS_ ()
#define PROTOCOLS_RESCAN_(...) \
    PROTOCOLS_RESCAN16_(PROTOCOLS_RESCAN16_(PROTOCOLS_RESCAN16_(PROTOCOLS_RESCAN16_(__VA_ARGS__))))
#define PROTOCOLS_RESCAN16_(...) \
    PROTOCOLS_RESCAN4_(PROTOCOLS_RESCAN4_(PROTOCOLS_RESCAN4_(PROTOCOLS_RESCAN4_(__VA_ARGS__))))
#define PROTOCOLS_RESCAN4_(...) \
    PROTOCOLS_RESCAN1_(PROTOCOLS_RESCAN1_(PROTOCOLS_RESCAN1_(PROTOCOLS_RESCAN1_(__VA_ARGS__))))
#define PROTOCOLS_RESCAN1_(...) __VA_ARGS__
