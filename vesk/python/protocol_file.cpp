#include "protocol_file.hpp"

#include <nanobind/stl/string.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "describe.hpp"
#include "format_error.hpp"
#include "lock_release.hpp"
#include "protocols/decoder.hpp"
#include "protocols/encoder.hpp"
#include "read_and_decode.hpp"
#include "record_binding.hpp"

namespace vesk::python {
namespace {

// The command also re-encodes what it decoded and compares; here that would
// cost a fifth to a third of a load more, and the property it checks (the
// decoder inverts the encoder) is what the decoder's fuzzing establishes.
ProtocolFile finish(FileDecoding& reading, nb::handle shown_name, std::string name) {
    if (!*reading.decoded) raise_format_error(shown_name, reading.decoded->error());
    return {std::move(*reading.decoded).value(), std::move(name)};
}

nb::str decoded_file_name(std::string_view bytes) {
    PyObject* name =
        PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    if (name == nullptr) throw nb::python_error();
    return nb::steal<nb::str>(name);
}

struct BufferRelease {
    void operator()(Py_buffer* view) const { PyBuffer_Release(view); }
};

constexpr const char* LOAD_DOC =
    "Reads the protocol file at `path` and decodes it strictly, as `vesk` does.\n\n"
    "Raises OSError (FileNotFoundError, IsADirectoryError, ...) when the file\n"
    "cannot be read, FormatError when it is not a valid protocol file.";

constexpr const char* LOADS_DOC =
    "Decodes a protocol file held in `data` (bytes, bytearray, memoryview or any\n"
    "other C-contiguous buffer), without copying it.\n\n"
    "`name` stands for the file's name in messages, repr() and the picture's\n"
    "title. Raises FormatError when the data is not a valid protocol file.";

constexpr const char* FILE_DOC =
    "A protocol file read back by load() or loads(): its record, read only.";

}  // namespace

ProtocolFile load_file(nb::handle path) {
    // os.fspath, then the file system's bytes (NUL refused), as open() does.
    PyObject* encoded_path = nullptr;
    if (PyUnicode_FSConverter(path.ptr(), &encoded_path) == 0) throw nb::python_error();
    const nb::bytes encoded = nb::steal<nb::bytes>(encoded_path);
    const std::string path_bytes(encoded.c_str(), encoded.size());

    FileDecoding reading;
    {
        nb::gil_scoped_release released;
        reading = read_and_decode(path_bytes.c_str());
    }
    if (reading.os_error != 0) {
        errno = reading.os_error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
        throw nb::python_error();
    }
    return finish(reading, decoded_file_name(path_bytes), std::string(base_name(path_bytes)));
}

ProtocolFile load_bytes(nb::handle data, nb::str name) {
    const nb::bytes encoded_name = nb::steal<nb::bytes>(PyUnicode_EncodeFSDefault(name.ptr()));
    if (!encoded_name.is_valid()) throw nb::python_error();
    Py_buffer view;
    if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw nb::python_error();
    const std::unique_ptr<Py_buffer, BufferRelease> held(&view);
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(view.buf),
                                              static_cast<std::size_t>(view.len));
    // An exported buffer cannot be resized, so it stays valid while unlocked.
    FileDecoding reading;
    run_released_if_long(bytes.size(),
                         [&] { reading.decoded.emplace(protocols::decode_file(bytes)); });
    return finish(reading, name, std::string(encoded_name.c_str(), encoded_name.size()));
}

nb::class_<ProtocolFile> bind_protocol_file(nb::module_& module) {
    nb::class_<ProtocolFile> cls(module, "ProtocolFile", nb::is_weak_referenceable(), FILE_DOC);
    cls.def_prop_ro(
           "settings",
           [](const ProtocolFile& file) -> const protocols::Settings& { return file.settings; },
           nb::rv_policy::reference_internal, "The file's record, a tree of read-only objects.")
        .def_prop_ro(
            "name", [](const ProtocolFile& file) { return decoded_file_name(file.name); },
            "The file's name (the last part of the path given to load), or the name given "
            "to loads.")
        .def("__repr__", [](const ProtocolFile& file) {
            const protocols::Settings& s = file.settings;
            return nb::steal<nb::str>(PyUnicode_FromFormat(
                "<ProtocolFile %R: %s s, intensity %s, %s>", decoded_file_name(file.name).ptr(),
                float_text(s.session_duration).c_str(), float_text(s.intensity).c_str(),
                plural(s.signals.size(), "signal").c_str()));
        });

    // As a value: equal when the records are (floats by their bits), whatever
    // the names; pickled as the file's bytes, which unpickling decodes as
    // strictly as loads() does.
    cls.def(
           "__eq__",
           [](nb::handle self, nb::handle other) -> nb::object {
               if (!nb::isinstance<ProtocolFile>(other)) return nb::borrow(Py_NotImplemented);
               return nb::bool_(same_value(nb::cast<const ProtocolFile&>(self).settings,
                                           nb::cast<const ProtocolFile&>(other).settings));
           },
           nb::sig("def __eq__(self, other: object, /) -> bool"))
        .def("__hash__",
             [](const ProtocolFile& file) {
                 const auto h = static_cast<Py_hash_t>(hash_value(file.settings));
                 return h == -1 ? Py_hash_t{-2} : h;
             })
        .def("__copy__", [](nb::handle self) { return nb::borrow(self); })
        .def(
            "__deepcopy__", [](nb::handle self, nb::handle) { return nb::borrow(self); },
            nb::arg("memo"))
        .def("__getstate__",
             [](const ProtocolFile& file) {
                 protocols::Bytes bytes;
                 run_released_if_long(file.settings.signals.size(),
                                      [&] { bytes = protocols::encode_file(file.settings); });
                 return nb::make_tuple(nb::bytes(bytes.data(), bytes.size()),
                                       decoded_file_name(file.name));
             })
        .def("__setstate__", [](ProtocolFile& file, const nb::tuple& state) {
            // Unpickling: `file` is a new object, not yet made.
            std::construct_at(&file, load_bytes(state[0], nb::cast<nb::str>(state[1])));
        });

    module.def("load", &load_file, nb::arg("path"),
               nb::sig("def load(path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> "
                       "ProtocolFile"),
               LOAD_DOC);
    module.def("loads", &load_bytes, nb::arg("data"), nb::kw_only(), nb::arg("name") = "<bytes>",
               nb::sig("def loads(data: typing_extensions.Buffer, *, name: str = '<bytes>') -> "
                       "ProtocolFile"),
               LOADS_DOC);
    for (const char* name : {"load", "loads", "ProtocolFile"}) export_name(module, name);
    return cls;
}

}  // namespace vesk::python
