#include "report_binding.hpp"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "check.hpp"
#include "diff.hpp"
#include "lock_release.hpp"
#include "protocol_file.hpp"
#include "record_binding.hpp"
#include "summary.hpp"

namespace vesk::python {
namespace {

constexpr const char* FILE_TYPES =
    "ProtocolFile | str | os.PathLike[str] | os.PathLike[bytes] | typing_extensions.Buffer";

// What a report's argument stands for: a loaded file as it is; a str or
// os.PathLike read as load() reads it; anything else with the buffer
// interface decoded as loads() decodes it (so bytes are a file's contents,
// never a path). The errors are load()'s and loads()'.
class ReportedFile {
public:
    explicit ReportedFile(nb::handle file) {
        if (nb::isinstance<ProtocolFile>(file)) {
            settings_ = &nb::cast<const ProtocolFile&>(file).settings;
            return;
        }
        if (PyUnicode_Check(file.ptr()) || nb::hasattr(file.type(), "__fspath__")) {
            read_.emplace(load_file(file));
        } else if (PyObject_CheckBuffer(file.ptr())) {
            read_.emplace(load_bytes(file, nb::str("<bytes>")));
        } else {
            PyErr_Format(PyExc_TypeError,
                         "expected a ProtocolFile, a path (str or os.PathLike) or a bytes-like "
                         "object, not %.200s",
                         Py_TYPE(file.ptr())->tp_name);
            throw nb::python_error();
        }
        settings_ = &read_->settings;
    }
    // settings_ may point into read_.
    ReportedFile(const ReportedFile&) = delete;
    ReportedFile& operator=(const ReportedFile&) = delete;

    const protocols::Settings& settings() const { return *settings_; }

private:
    std::optional<ProtocolFile> read_;
    const protocols::Settings* settings_ = nullptr;
};

// How long a report of `s` takes, in elements: its signals and samples.
std::size_t work_size(const protocols::Settings& s) {
    std::size_t size = s.signals.size();
    for (const protocols::Signal& signal : s.signals) {
        if (const auto* arbitrary = std::get_if<protocols::ArbitrarySignalParams>(&signal)) {
            size += arbitrary->samples.size();
        }
    }
    return size;
}

nb::str python_text(const std::string& text) {
    return nb::str(text.data(), text.size());
}

nb::object optional_text(const std::optional<std::string>& text) {
    return text ? nb::object(python_text(*text)) : nb::none();
}

// ==, hash and pickle of a frozen value, by the tuple of its fields, which
// `fields` gives and `from_fields` takes back.
template <typename T, typename Fields, typename FromFields>
void add_frozen_value_methods(nb::class_<T>& cls, Fields fields, FromFields from_fields) {
    cls.def(
           "__eq__",
           [](nb::handle self, nb::handle other) -> nb::object {
               if (!nb::isinstance<T>(other)) return nb::borrow(Py_NotImplemented);
               return nb::bool_(nb::cast<const T&>(self) == nb::cast<const T&>(other));
           },
           nb::sig("def __eq__(self, other: object, /) -> bool"))
        .def("__hash__", [fields](const T& self) { return nb::hash(fields(self)); })
        .def("__copy__", [](nb::handle self) { return nb::borrow(self); })
        .def(
            "__deepcopy__", [](nb::handle self, nb::handle) { return nb::borrow(self); },
            nb::arg("memo"))
        .def("__getstate__", fields)
        .def("__setstate__", [from_fields](T& self, const nb::tuple& state) {
            // Unpickling: `self` is a new object, not yet made.
            std::construct_at(&self, from_fields(state));
        });
}

using Field = std::pair<const char*, nb::object>;

// "Finding(path='intensity', problem='...')": each field by its repr().
std::string value_repr(const char* type, const std::vector<Field>& fields) {
    std::string repr = type;
    repr += '(';
    for (const auto& [name, value] : fields) {
        if (repr.back() != '(') repr += ", ";
        repr += name;
        repr += '=';
        repr += nb::cast<std::string>(nb::repr(value));
    }
    return repr + ')';
}

std::string text_at(const nb::tuple& state, std::size_t i) {
    return nb::cast<std::string>(state[i]);
}

std::optional<std::string> optional_text_at(const nb::tuple& state, std::size_t i) {
    return nb::cast<std::optional<std::string>>(state[i]);
}

constexpr const char* FINDING_DOC =
    "A problem that check() found: `path` names the field it is in, as FormatError's\n"
    "`field` does (\"intensity\", \"channel_a_settings.amplitude2_source.internal\",\n"
    "\"signals[0].Arbitrary.samples[5]\"), `problem` says what is wrong. str() is the\n"
    "line `vesk check` prints for it after \"FILE: \".";

void bind_finding(nb::module_& module) {
    nb::class_<Finding> cls(module, "Finding", FINDING_DOC);
    cls.def_ro("path", &Finding::path, "The field the problem is in.")
        .def_ro("problem", &Finding::problem,
                "What is wrong, in the words `vesk check` prints after \"FILE: \".")
        .def("__str__", [](const Finding& f) { return f.problem; })
        .def("__repr__", [](const Finding& f) {
            return value_repr("Finding",
                              {{"path", python_text(f.path)}, {"problem", python_text(f.problem)}});
        });
    add_frozen_value_methods(
        cls,
        [](const Finding& f) {
            return nb::make_tuple(python_text(f.path), python_text(f.problem));
        },
        [](const nb::tuple& state) {
            return Finding{text_at(state, 0), text_at(state, 1)};
        });
    export_name(module, "Finding");
}

constexpr const char* CHANGE_DOC =
    "A difference that diff() found: `path` names the field (\"intensity\",\n"
    "\"signals[3]\" for a signal added, removed or of another kind,\n"
    "\"channel_b_settings.amplitude1_source\", \"signals[1].Arbitrary.samples\"), `old`\n"
    "and `new` its two values as `vesk diff` shows them (None for the side of an\n"
    "added or removed signal, and both for sample values that differ), `note` what\n"
    "else the line says (\"entries, added [2]\", a NaN's bits, how the samples\n"
    "differ; \"\" when nothing). str() is the line `vesk diff` prints for it.";

void bind_change(nb::module_& module) {
    nb::class_<Change> cls(module, "Change", CHANGE_DOC);
    cls.def_ro("path", &Change::path, "The field that differs.")
        .def_ro("old", &Change::old_value,
                "The first file's value; None for an added signal and for sample values.")
        .def_ro("new", &Change::new_value,
                "The second file's value; None for a removed signal and for sample values.")
        .def_ro("note", &Change::note, "What else the line says; \"\" when nothing.")
        .def("__str__", &change_line)
        .def("__repr__", [](const Change& c) {
            std::vector<Field> fields{{"path", python_text(c.path)},
                                      {"old", optional_text(c.old_value)},
                                      {"new", optional_text(c.new_value)}};
            if (!c.note.empty()) fields.push_back({"note", python_text(c.note)});
            return value_repr("Change", fields);
        });
    // The subject is what the line names the path by: part of the value, as
    // unpickling must give the same line back.
    add_frozen_value_methods(
        cls,
        [](const Change& c) {
            return nb::make_tuple(python_text(c.path), python_text(c.subject),
                                  optional_text(c.old_value), optional_text(c.new_value),
                                  python_text(c.note));
        },
        [](const nb::tuple& state) {
            return Change{text_at(state, 0), text_at(state, 1), optional_text_at(state, 2),
                          optional_text_at(state, 3), text_at(state, 4)};
        });
    export_name(module, "Change");
}

constexpr const char* CHECK_DOC =
    "What `vesk check` reports of `file`, as a list of Finding, in the command's\n"
    "order; empty when it reports nothing.\n\n"
    "`file` is a ProtocolFile, a path (str or os.PathLike) read as load() reads it,\n"
    "or a bytes-like object holding a file, decoded as loads() decodes it. A file\n"
    "that cannot be read or decoded raises what load() or loads() raises, where the\n"
    "command prints that error and exits with status 2.";

constexpr const char* SUMMARY_DOC =
    "What json.loads() makes of `vesk summary --json` for `file`: a dict, with the\n"
    "lists of rows `inputs` and `signals` that pandas.DataFrame takes as they are.\n\n"
    "`file` and the errors as for check().";

constexpr const char* DIFF_DOC =
    "What `vesk diff a b` reports, as a list of Change, in the command's order;\n"
    "empty when the two files are equal.\n\n"
    "`a` and `b` and the errors as for check().";

nb::list check(nb::handle file) {
    const ReportedFile reported(file);
    std::vector<Finding> findings;
    run_released_if_long(work_size(reported.settings()),
                         [&] { findings = find_problems(reported.settings()); });
    nb::list list;
    for (Finding& finding : findings) list.append(nb::cast(std::move(finding)));
    return list;
}

nb::object summary(nb::handle file) {
    const ReportedFile reported(file);
    std::string json;
    run_released_if_long(reported.settings().signals.size(),
                         [&] { json = summary_json(reported.settings()); });
    return nb::module_::import_("json").attr("loads")(python_text(json));
}

nb::list diff(nb::handle a, nb::handle b) {
    const ReportedFile old_file(a);
    const ReportedFile new_file(b);
    std::vector<Change> changes;
    run_released_if_long(work_size(old_file.settings()) + work_size(new_file.settings()), [&] {
        find_changes(old_file.settings(), new_file.settings(), [&](Change&& change) {
            changes.push_back(std::move(change));
            return true;
        });
    });
    nb::list list;
    for (Change& change : changes) list.append(nb::cast(std::move(change)));
    return list;
}

std::string signature(const char* head, const char* tail) {
    std::string text = head;
    text += FILE_TYPES;
    text += tail;
    return text;
}

}  // namespace

void bind_reports(nb::module_& module) {
    bind_finding(module);
    bind_change(module);
    // nanobind copies the signatures.
    const std::string check_sig = signature("def check(file: ", ") -> list[Finding]");
    const std::string summary_sig = signature("def summary(file: ", ") -> dict[str, typing.Any]");
    const std::string diff_sig =
        signature("def diff(a: ", "") + signature(", b: ", ") -> list[Change]");
    module.def("check", &check, nb::arg("file"), nb::sig(check_sig.c_str()), CHECK_DOC);
    module.def("summary", &summary, nb::arg("file"), nb::sig(summary_sig.c_str()), SUMMARY_DOC);
    module.def("diff", &diff, nb::arg("a"), nb::arg("b"), nb::sig(diff_sig.c_str()), DIFF_DOC);
    for (const char* name : {"check", "summary", "diff"}) export_name(module, name);
}

}  // namespace vesk::python
