#include <gtest/gtest.h>

#include <set>
#include <string>

#include "describe.hpp"
#include "protocols/routing_inputs.hpp"
#include "rebuild.hpp"

namespace vesk {
namespace {

using namespace protocols;

// The routing the API promises, written out independently of the table.
struct Expected {
    const char* type;
    const char* member;
    SignalSourceSelection& (*field)(Settings&);
};
const Expected EXPECTED[] = {
    {"Coil", "A1", [](Settings& s) -> auto& {return s.channel_a_settings.amplitude1_source;
}  // namespace
}  // namespace vesk
, {"Coil", "A2", [](Settings& s) -> auto& {return s.channel_a_settings.amplitude2_source;
}
}
, {"Channel", "A", [](Settings& s) -> auto& {return s.channel_a_settings.modulation_source;
}
}
, {"Coil", "B1", [](Settings& s) -> auto& {return s.channel_b_settings.amplitude1_source;
}
}
, {"Coil", "B2", [](Settings& s) -> auto& {return s.channel_b_settings.amplitude2_source;
}
}
, {"Channel", "B", [](Settings& s) -> auto& {return s.channel_b_settings.modulation_source;
}
}
,
}
;

TEST(RoutingInputs, EachEntryNamesItsOwnFieldAndMember) {
    Settings s;
    std::set<const SignalSourceSelection*> fields;
    std::set<std::string_view> names;
    for (const RoutingInput& input : ROUTING_INPUTS) {
        fields.insert(&input.selection(s));
        names.insert(input.api_name);
        EXPECT_EQ(find_routing_input(input.channel_field, input.source_field), &input);
    }
    EXPECT_EQ(fields.size(), ROUTING_INPUTS.size());
    EXPECT_EQ(names.size(), ROUTING_INPUTS.size());
}

// Every input on its own internal signal, one walk through the summary's
// view and one through a rebuild: each input must come back with its own.
TEST(RoutingInputs, ARebuiltProtocolRoutesEachInputToItsOwnSource) {
    Settings s;
    s.running_on_target_machine = false;
    s.channel_b_settings.enabled = true;
    for (std::uint64_t i = 0; i < std::size(EXPECTED); ++i) EXPECTED[i].field(s).internal = 10 + i;

    const auto views = channels(s);
    for (std::size_t i = 0; i < std::size(EXPECTED); ++i) {
        const ChannelInput& input = views[i / 3].inputs[i % 3];
        EXPECT_EQ(input.name, std::string(EXPECTED[i].type) + "." + EXPECTED[i].member);
        EXPECT_EQ(&input.source, &EXPECTED[i].field(s));
    }

    const auto planned = plan_rebuild(s);
    ASSERT_TRUE(std::holds_alternative<RebuildPlan>(planned));
    std::size_t routed = 0;
    for (const ApiCall& call : std::get<RebuildPlan>(planned).calls) {
        if (call.method != "set_amplitude_source" && call.method != "set_modulation_source") {
            continue;
        }
        ASSERT_EQ(call.arguments.size(), 2u);
        const auto& member = std::get<EnumMember>(call.arguments[0].value);
        const auto index = std::get<std::uint64_t>(call.arguments[1].value);
        ASSERT_GE(index, 10u);
        ASSERT_LT(index - 10, std::size(EXPECTED));
        const Expected& expected = EXPECTED[index - 10];
        EXPECT_EQ(member, (EnumMember{expected.type, expected.member})) << "index " << index;
        EXPECT_EQ(call.method, std::string(expected.type) == "Coil" ? "set_amplitude_source"
                                                                    : "set_modulation_source");
        ++routed;
    }
    EXPECT_EQ(routed, std::size(EXPECTED));
}

}  // namespace
}  // namespace vesk
