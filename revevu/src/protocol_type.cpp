// The Protocol class: construction, destruction, str() and the method table.
#include <new>
#include <string>
#include <utility>

#include "owned_ref.hpp"
#include "panic.hpp"
#include "process_object.hpp"
#include "protocol_binding.hpp"
#include "protocol_object.hpp"
#include "protocols/text_form.hpp"
#include "type_names.hpp"

namespace revevu {
namespace {

PyObject* protocol_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    static constexpr Signature signature{"Protocol.__new__()", {}, 0, 0};
    static InternedNames interned{};
    return guarded([&]() -> PyObject* {
        BoundArguments unused{};
        if (!bind_arguments(signature, interned, args, kwargs, unused)) return nullptr;

        protocols::Protocol record;
        record.settings.signals = {};  // a new protocol starts without signals
        PyObject* object = type->tp_alloc(type, 0);
        if (object == nullptr) return nullptr;
        auto* protocol = reinterpret_cast<ProtocolObject*>(object);
        new (&protocol->borrow) BorrowCounter();
        new (&protocol->record) protocols::Protocol(std::move(record));
        return object;
    });
}

void protocol_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    auto* protocol = reinterpret_cast<ProtocolObject*>(self);
    protocol->record.~Protocol();
    protocol->borrow.~BorrowCounter();
    type->tp_free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// The text form as a new str. An ASCII text (always, unless a coil name is
// not) is written straight into the str's own buffer, measured first, which
// saves a copy of what can be hundreds of megabytes and the memory it needs.
PyObject* text_form_str(const protocols::Protocol& record) {
    const protocols::TextFormSize size = protocols::measure_text_form(record);
    if (!size.ascii) {
        const std::string text = protocols::text_form(record);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }
    OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(size.bytes), 127));
    if (!text) return nullptr;
    char* data = static_cast<char*>(PyUnicode_DATA(text.get()));
    if (protocols::write_text_form(record, data, size.bytes) != size.bytes) {
        PyErr_SetString(PyExc_SystemError, "text form length changed while writing");
        return nullptr;
    }
    return text.release();
}

PyObject* protocol_str(PyObject* self) noexcept {
    return guarded([&]() -> PyObject* {
        return run_method<SharedBorrow>(self, [](const MethodCall<SharedBorrow>& call) {
            return text_form_str(call.record());
        });
    });
}

// ---- Method table ------------------------------------------------------------------

// The parameters of each method; the interpreter-facing signature in its doc text agrees.
constexpr Signature kSetStimulationIntensity{
    "Protocol.set_stimulation_intensity()", {"intensity"}, 1, 1};
constexpr Signature kSetSessionDuration{"Protocol.set_session_duration()", {"duration"}, 1, 1};
constexpr Signature kEnableChannel{"Protocol.enable_channel()", {"channel"}, 1, 1};
constexpr Signature kSetAmplitudeSource{
    "Protocol.set_amplitude_source()", {"coil", "index", "external"}, 3, 2};
constexpr Signature kSetModulationSource{
    "Protocol.set_modulation_source()", {"channel", "index", "external"}, 3, 2};
constexpr Signature kAddConstantSignal{"Protocol.add_constant_signal()", {"value"}, 1, 1};
constexpr Signature kAddSineSignal{
    "Protocol.add_sine_signal()", {"amplitude", "frequency", "phase", "depth"}, 4, 2};
constexpr Signature kAddRampSignal{
    "Protocol.add_ramp_signal()", {"peak", "up_duration", "down_duration"}, 3, 3};
constexpr Signature kAddMixedSignal{"Protocol.add_mixed_signal()", {"a_idx", "b_idx"}, 2, 2};
constexpr Signature kAddArbitrarySignal{"Protocol.add_arbitrary_signal()", {"samples"}, 1, 1};
constexpr Signature kSave{"Protocol.save()", {"filepath"}, 1, 1};

template <typename Function>
PyCFunction as_method(Function function) {
    // The interpreter calls each entry with the signature its flags announce.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;
using kind::BoolOr;
using kind::ChannelMember;
using kind::CoilMember;
using kind::Float;
using kind::FloatOr;
using kind::Index;

PyMethodDef protocol_methods[] = {
    {"set_stimulation_intensity",
     as_method(fastcall_method<kSetStimulationIntensity, ExclusiveBorrow,
                               methods::set_stimulation_intensity, Float>),
     kFastCall, "set_stimulation_intensity($self, intensity)\n--\n\n"},
    {"set_session_duration",
     as_method(fastcall_method<kSetSessionDuration, ExclusiveBorrow, methods::set_session_duration,
                               Float>),
     kFastCall, "set_session_duration($self, duration)\n--\n\n"},
    {"enable_channel",
     as_method(
         fastcall_method<kEnableChannel, ExclusiveBorrow, methods::enable_channel, ChannelMember>),
     kFastCall, "enable_channel($self, channel)\n--\n\n"},
    {"set_amplitude_source",
     as_method(fastcall_method<kSetAmplitudeSource, ExclusiveBorrow, methods::set_amplitude_source,
                               CoilMember, Index, BoolOr<false>>),
     kFastCall, "set_amplitude_source($self, coil, index, external=False)\n--\n\n"},
    {"set_modulation_source",
     as_method(
         fastcall_method<kSetModulationSource, ExclusiveBorrow, methods::set_modulation_source,
                         ChannelMember, Index, BoolOr<false>>),
     kFastCall, "set_modulation_source($self, channel, index, external=False)\n--\n\n"},
    {"add_constant_signal",
     as_method(
         fastcall_method<kAddConstantSignal, ExclusiveBorrow, methods::add_constant_signal, Float>),
     kFastCall, "add_constant_signal($self, value)\n--\n\n"},
    {"add_sine_signal",
     as_method(fastcall_method<kAddSineSignal, ExclusiveBorrow, methods::add_sine_signal, Float,
                               Float, FloatOr<0>, FloatOr<1>>),
     kFastCall, "add_sine_signal($self, amplitude, frequency, phase=0.0, depth=1.0)\n--\n\n"},
    {"add_ramp_signal",
     as_method(fastcall_method<kAddRampSignal, ExclusiveBorrow, methods::add_ramp_signal, Float,
                               Float, Float>),
     kFastCall, "add_ramp_signal($self, peak, up_duration, down_duration)\n--\n\n"},
    {"add_mixed_signal",
     as_method(fastcall_method<kAddMixedSignal, ExclusiveBorrow, methods::add_mixed_signal, Index,
                               Index>),
     kFastCall, "add_mixed_signal($self, a_idx, b_idx)\n--\n\n"},
    {"add_arbitrary_signal",
     as_method(fastcall_method<kAddArbitrarySignal, ExclusiveBorrow, methods::add_arbitrary_signal,
                               kind::Samples>),
     kFastCall, "add_arbitrary_signal($self, samples)\n--\n\n"},
    {"get_num_samples", as_method(noargs_method<ExclusiveBorrow, methods::get_num_samples>),
     METH_NOARGS, "get_num_samples($self)\n--\n\n"},
    {"get_sampling_rate", as_method(noargs_method<SharedBorrow, methods::get_sampling_rate>),
     METH_NOARGS, "get_sampling_rate($self)\n--\n\n"},
    {"save", as_method(fastcall_method<kSave, ExclusiveBorrow, methods::save, kind::Text>),
     kFastCall, "save($self, filepath)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot protocol_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(protocol_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(protocol_dealloc)},
    {Py_tp_str, reinterpret_cast<void*>(protocol_str)},
    {Py_tp_methods, protocol_methods},
    {Py_tp_doc, const_cast<char*>("Protocol()\n--\n\n")},
    {0, nullptr},
};

// Not a base type, no instance dict, no weak references.
PyType_Spec protocol_spec = {"revevu.Protocol", sizeof(ProtocolObject), 0, Py_TPFLAGS_DEFAULT,
                             protocol_slots};

}  // namespace

PyTypeObject* protocol_type() {
    static ProcessObject<PyTypeObject> type;
    return type.get([] {
        auto* made = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&protocol_spec));
        if (made != nullptr) use_bare_type_name(made, "Protocol");
        return made;
    });
}

ProtocolObject* as_protocol(PyObject* self) {
    PyTypeObject* type = protocol_type();
    if (type == nullptr) return nullptr;
    if (!PyObject_TypeCheck(self, type)) {
        set_plain_cast_error(self, "Protocol");
        return nullptr;
    }
    return reinterpret_cast<ProtocolObject*>(self);
}

}  // namespace revevu
