#include "rebuild_binding.hpp"

#include <nanobind/ndarray.h>
#include <nanobind/stl/string.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "lock_release.hpp"
#include "protocols/settings.hpp"
#include "python_exception.hpp"
#include "rebuild.hpp"
#include "sample_arrays.hpp"
#include "script_text.hpp"
#include "value_text.hpp"

namespace vesk::python {
namespace {

// Lives until the process ends (see add_value_error_class).
PyObject* not_reproducible_type = nullptr;

constexpr const char* NOT_REPRODUCIBLE_DOC =
    "The file holds what no sequence of revevu.Protocol calls can write.\n\n"
    "The message is what `vesk script` prints after \"cannot be rebuilt through the\n"
    "revevu API: \": FIELD = VALUE: REASON. `field` is the path of the first field in\n"
    "the way (\"machine_config.coils[0].name\", \"signals[3].Arbitrary.samples[17]\"),\n"
    "`value` its value as the text form shows it, `reason` the rule that excludes it.";

constexpr const char* TO_PROTOCOL_DOC =
    "A new revevu.Protocol built from this file through its public methods only: its\n"
    "save() writes the file's bytes again and its str() is the text of the protocol\n"
    "that wrote the file. Arbitrary signals are passed as their stored codes / 32767.0.\n\n"
    "running_on_target_machine comes from VESK_TARGET_MACHINE when Protocol() runs,\n"
    "and to_protocol() leaves the environment alone: when the file's flag differs from\n"
    "what Protocol() gives in this process, it raises NotReproducible naming that\n"
    "field. Set or remove the variable before the call, or use script(), whose script\n"
    "sets it for its own process.\n\n"
    "Raises NotReproducible when the file holds what no revevu call writes (another\n"
    "machine configuration, a disabled channel A, a sample code below 0, ...).";

constexpr const char* SCRIPT_DOC =
    "The Python script that `vesk script FILE -o OUT.py` writes for this file: the\n"
    "revevu calls that rebuild it, one a line, then save() to the path given on its\n"
    "command line. The script sets or removes VESK_TARGET_MACHINE for its own process.\n\n"
    "Arbitrary samples come from the .npz file of the script's name beside it, one\n"
    "array of stored codes per signal, named signal_N for signal N: `vesk script`\n"
    "writes it, or numpy.savez(Path(out).with_suffix(\".npz\"),\n"
    "signal_3=loaded.settings.signals[3].samples, ...).\n\n"
    "Raises NotReproducible as to_protocol() does, except over running_on_target_machine,\n"
    "which the script sets itself.";

[[noreturn]] void raise_not_reproducible(const NotReproducible& refusal) {
    raise_with_attributes(not_reproducible_type, nb::cast(refusal.message()),
                          {{"field", nb::cast(refusal.field)},
                           {"value", nb::cast(refusal.value)},
                           {"reason", nb::cast(refusal.reason)}});
}

RebuildPlan plan_of(const ProtocolFile& file) {
    auto planned = plan_rebuild(file.settings);
    if (const auto* refusal = std::get_if<NotReproducible>(&planned)) {
        raise_not_reproducible(*refusal);
    }
    return std::get<RebuildPlan>(std::move(planned));
}

nb::str python_name(std::string_view name) {
    return nb::str(name.data(), name.size());
}

class PlanRunner {
public:
    PlanRunner(const ProtocolFile& file, nb::module_ revevu)
        : file_(file), revevu_(std::move(revevu)) {}

    nb::object argument(const ArgumentValue& value) const {
        return std::visit(
            [&](const auto& v) -> nb::object {
                using T = std::remove_cvref_t<decltype(v)>;
                if constexpr (std::is_same_v<T, EnumMember>) {
                    return revevu_.attr(python_name(v.type)).attr(python_name(v.member));
                } else if constexpr (std::is_same_v<T, StoredSamples>) {
                    const auto& signal = file_.settings.signals[v.signal];
                    return normalised_samples(
                        std::get<protocols::ArbitrarySignalParams>(signal).samples);
                } else {
                    return nb::cast(v);
                }
            },
            value);
    }

    void call(nb::handle protocol, const ApiCall& call) const {
        nb::dict keywords;
        for (const Argument& argument : call.arguments) {
            keywords[python_name(argument.keyword)] = this->argument(argument.value);
        }
        protocol.attr(python_name(call.method))(**keywords);
    }

private:
    const ProtocolFile& file_;
    nb::module_ revevu_;
};

// Refuses a file whose flag is not what Protocol() gives in this process,
// saying what the caller can change.
void check_target_machine(bool in_file, bool in_process) {
    if (in_file == in_process) return;
    const std::string reason =
        in_file ? "Protocol() gives false in this process, where VESK_TARGET_MACHINE is unset "
                  "(or not UTF-8): set it before to_protocol(), or use script(), whose "
                  "script sets it for its own process"
                : "Protocol() gives true in this process, where VESK_TARGET_MACHINE is set: "
                  "remove it before to_protocol(), or use script(), whose script removes it "
                  "for its own process";
    raise_not_reproducible(
        NotReproducible{"running_on_target_machine", value_text(in_file), reason});
}

nb::object to_protocol(const ProtocolFile& file) {
    const RebuildPlan plan = plan_of(file);
    const nb::module_ revevu = nb::module_::import_("revevu");
    nb::object protocol = revevu.attr("Protocol")();
    // Protocol() has just read the variable by the core library's rule; only
    // another thread setting the environment in between could change it.
    check_target_machine(plan.running_on_target_machine,
                         protocols::read_running_on_target_machine());
    const PlanRunner runner(file, revevu);
    for (const ApiCall& call : plan.calls) runner.call(protocol, call);
    return protocol;
}

std::string script(const ProtocolFile& file) {
    const RebuildPlan plan = plan_of(file);
    return script_text(plan, stored_codes_crc32(file.settings, stored_sample_signals(plan)).all,
                       file.name);
}

}  // namespace

void bind_rebuild(nb::module_& module, nb::class_<ProtocolFile>& file_class) {
    not_reproducible_type = add_value_error_class(module, "NotReproducible", NOT_REPRODUCIBLE_DOC);
    file_class.def("to_protocol", &to_protocol, nb::sig("def to_protocol(self) -> revevu.Protocol"),
                   TO_PROTOCOL_DOC);
    file_class.def("script", &script, SCRIPT_DOC);
}

}  // namespace vesk::python
