#include "enums.hpp"

#include <array>

#include "conversions.hpp"
#include "owned_ref.hpp"
#include "process_object.hpp"
#include "type_names.hpp"

namespace revevu {
namespace {

struct MemberObject {
    PyObject_HEAD std::uint8_t value;
};

struct MemberName {
    const char* attribute;  // "A1"
    const char* text;       // "Coil.A1", the repr
};

// The members of the class of one kind of routing input, in the table's order.
template <protocols::InputKind Kind>
consteval auto member_names(std::string_view class_name) {
    constexpr auto inputs = protocols::INPUTS_OF_KIND<Kind>;
    std::array<MemberName, inputs.size()> names{};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (inputs[i].enum_class() != class_name) throw "member_names: input of another class";
        names[i] = {inputs[i].member().data(), inputs[i].api_name.data()};
    }
    return names;
}

struct ChannelClass {
    static constexpr const char* name = "Channel";
    static constexpr const char* dotted_name = "revevu.Channel";
    static constexpr auto members = member_names<protocols::InputKind::modulation>(name);
};

struct CoilClass {
    static constexpr const char* name = "Coil";
    static constexpr const char* dotted_name = "revevu.Coil";
    static constexpr auto members = member_names<protocols::InputKind::amplitude>(name);
};

template <typename Class>
PyTypeObject* enum_type();

template <typename Class>
MemberObject* as_member(PyObject* self) {
    PyTypeObject* type = enum_type<Class>();
    if (type == nullptr) return nullptr;
    if (!PyObject_TypeCheck(self, type)) {
        set_plain_cast_error(self, Class::name);
        return nullptr;
    }
    return reinterpret_cast<MemberObject*>(self);
}

template <typename Class>
PyObject* member_int(PyObject* self) noexcept {
    MemberObject* member = as_member<Class>(self);
    return member == nullptr ? nullptr : PyLong_FromLong(member->value);
}

template <typename Class>
PyObject* member_repr(PyObject* self) noexcept {
    MemberObject* member = as_member<Class>(self);
    return member == nullptr ? nullptr : PyUnicode_FromString(Class::members[member->value].text);
}

// Unreachable in practice: the class keeps its members alive for good.
void member_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// No constructor (instantiation is refused), no comparison or hash slot
// (identity), no index slot (not an integer index), no dict or weak
// references, no subclasses; immutable, so that a class attribute always
// names the one member object.
template <typename Class>
PyTypeObject* create_enum_type() {
    static PyType_Slot slots[] = {
        {Py_nb_int, reinterpret_cast<void*>(member_int<Class>)},
        {Py_tp_repr, reinterpret_cast<void*>(member_repr<Class>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(member_dealloc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        Class::dotted_name, sizeof(MemberObject), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE, slots};

    OwnedRef type = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    use_bare_type_name(type_object, Class::name);
    for (std::size_t value = 0; value < Class::members.size(); ++value) {
        OwnedRef member = OwnedRef::steal(type_object->tp_alloc(type_object, 0));
        if (!member) return nullptr;
        reinterpret_cast<MemberObject*>(member.get())->value = static_cast<std::uint8_t>(value);
        // Immutable to Python code; the class's own dict is filled here, once.
        if (PyDict_SetItemString(type_object->tp_dict, Class::members[value].attribute,
                                 member.get()) < 0) {
            return nullptr;
        }
    }
    PyType_Modified(type_object);
    return reinterpret_cast<PyTypeObject*>(type.release());
}

template <typename Class>
PyTypeObject* enum_type() {
    static ProcessObject<PyTypeObject> type;
    return type.get(create_enum_type<Class>);
}

template <typename Class, typename Enum>
std::optional<Enum> to_member(PyObject* object, const char* name) {
    PyTypeObject* type = enum_type<Class>();
    if (type == nullptr) return std::nullopt;
    if (!PyObject_TypeCheck(object, type)) {
        set_cast_error(object, name, Class::name);
        return std::nullopt;
    }
    return static_cast<Enum>(reinterpret_cast<MemberObject*>(object)->value);
}

}  // namespace

PyTypeObject* channel_type() {
    return enum_type<ChannelClass>();
}
PyTypeObject* coil_type() {
    return enum_type<CoilClass>();
}

std::optional<Channel> to_channel(PyObject* object, const char* name) {
    return to_member<ChannelClass, Channel>(object, name);
}

std::optional<Coil> to_coil(PyObject* object, const char* name) {
    return to_member<CoilClass, Coil>(object, name);
}

}  // namespace revevu
