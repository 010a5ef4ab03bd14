// What `vesk check` finds in a record.
#pragma once

#include <string>
#include <vector>

#include "protocols/settings.hpp"

namespace vesk {

// One message per problem, in a fixed order.
std::vector<std::string> find_problems(const protocols::Settings& settings);

}  // namespace vesk
