// The vesk Python module: protocol files read back into Python, over the same
// decoder as the vesk command.
#include <nanobind/nanobind.h>

#include "format_error.hpp"
#include "protocol_file.hpp"
#include "rebuild_binding.hpp"
#include "record_binding.hpp"
#include "sample_arrays.hpp"

NB_MODULE(vesk, module) {
    namespace nb = nanobind;
    using namespace vesk::python;
    using namespace protocols;
    module.doc() =
        "Protocol files read back into Python: vesk.load(path) and vesk.loads(data) give a\n"
        "ProtocolFile whose `settings` is the file's record as read-only objects.";
    module.attr("__all__") = nb::list();

    bind_record<Settings>(module, "The whole protocol.");
    bind_record<MachineConfig>(module, "The stimulator's hardware description.");
    bind_record<Coil>(module, "A coil with its tuned capacitor-bank settings.");
    bind_record<LCSetting>(module, "One capacitor-bank setting of a coil.");
    bind_record<ChannelSettings>(module, "One output channel.");
    bind_record<SignalSourceSelection>(
        module, "What drives a channel input: internal signal or external source.");
    bind_record<ConstantSignalParams>(module, "A constant signal.");
    bind_record<SineSignalParams>(module, "A sine signal, its parameters as stored.");
    bind_record<RampSignalParams>(module, "A ramp signal, its parameters as stored.");
    bind_record<MixedSignalParams>(module, "A mix of two signals, named by position.");
    add_sample_methods(bind_record<ArbitrarySignalParams>(
        module, "A sampled signal; `samples` is a read-only int16 NumPy view."));

    add_format_error(module);
    nb::class_<ProtocolFile> file_class = bind_protocol_file(module);
    bind_rebuild(module, file_class);
}
