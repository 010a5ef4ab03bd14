#include "protocols/machine_config.hpp"

namespace protocols {

MachineConfig::MachineConfig() : coils{Coil()}, capacitors{330.0}, possible_capacitances{330.0} {}

}  // namespace protocols
