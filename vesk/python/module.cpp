// The vesk Python module: protocol files read back into Python, over the same
// decoder as the vesk command.
#include <nanobind/nanobind.h>

#include <string>
#include <string_view>

#include "format_error.hpp"
#include "plot_binding.hpp"
#include "protocol_file.hpp"
#include "rebuild_binding.hpp"
#include "record_binding.hpp"
#include "report_binding.hpp"
#include "sample_arrays.hpp"

namespace vesk::python {

// Each record class's docstring, on a line "TypeName: docstring".
constexpr std::string_view RECORD_DOCS = R"(
Settings: The whole protocol.
MachineConfig: The stimulator's hardware description.
Coil: A coil with its tuned capacitor-bank settings.
LCSetting: One capacitor-bank setting of a coil.
ChannelSettings: One output channel.
SignalSourceSelection: What drives a channel input: internal signal or external source.
ConstantSignalParams: A constant signal.
SineSignalParams: A sine signal, its parameters as stored.
RampSignalParams: A ramp signal, its parameters as stored.
MixedSignalParams: A mix of two signals, named by position.
ArbitrarySignalParams: A sampled signal; `samples` is a read-only int16 NumPy view.
)";

// The docstring of `type_name` in RECORD_DOCS; a record without one does not compile.
consteval std::string_view record_doc(std::string_view type_name) {
    for (std::size_t line = 0; line < RECORD_DOCS.size();) {
        const std::size_t end = RECORD_DOCS.find('\n', line);
        const std::string_view text = RECORD_DOCS.substr(line, end - line);
        if (text.starts_with(type_name) && text.substr(type_name.size()).starts_with(": ")) {
            return text.substr(type_name.size() + 2);
        }
        line = end + 1;
    }
    throw "record_doc: no docstring for the record";
}

// As a C string, kept for the life of the process, as the classes are.
template <typename Record>
const char* record_doc() {
    static const std::string doc(record_doc(Record::type_name));
    return doc.c_str();
}

template <typename... Records>
void bind_records(nb::module_& module) {
    (bind_record<Records>(module, record_doc<Records>()), ...);
}

}  // namespace vesk::python

NB_MODULE(vesk, module) {
    namespace nb = nanobind;
    using namespace vesk::python;
    using namespace protocols;
    module.doc() =
        "Protocol files read back into Python: vesk.load(path) and vesk.loads(data) give a\n"
        "ProtocolFile whose `settings` is the file's record as read-only objects.";
    module.attr("__all__") = nb::list();

    // In this order in the module and its stubs: the records from the top down.
    bind_records<Settings, MachineConfig, Coil, LCSetting, ChannelSettings, SignalSourceSelection,
                 ConstantSignalParams, SineSignalParams, RampSignalParams, MixedSignalParams,
                 ArbitrarySignalParams>(module);
    add_sample_methods(module);

    add_format_error(module);
    nb::class_<ProtocolFile> file_class = bind_protocol_file(module);
    bind_rebuild(module, file_class);
    bind_plot(file_class);

    // check, summary and diff, as the command reports them.
    bind_reports(module);
}
