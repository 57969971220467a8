// Settings from the technician's page reach the node through the same
// effects and stores as the desk's ArtAddress and RDM SETs.
#include <gtest/gtest.h>

#include <map>

#include "network/node_remote.h"

using namespace Spectrafox;

namespace {

TEST(NodeRemote, SettingsFromThePageAreCheckedThenTakenAsTheDesksAre)
{
    NodeRemote::Settings good;
    good.short_name = "Stage left";
    good.long_name = "Spectrafox above stage left";
    good.dmx_start = 21;
    good.personality = 2;
    good.port = {NetworkInputSettings::kAnyNet, 1, 3};
    const auto with = [&good](auto change) {
        NodeRemote::Settings s = good;
        change(s);
        return s;
    };
    const struct {
        const char* name;
        NodeRemote::Settings wanted;
        bool taken;
    } cases[] = {
        {"good", good, true},
        {"start 0", with([](auto& s) { s.dmx_start = 0; }), false},
        {"start past the universe", with([](auto& s) { s.dmx_start = 494; }), false},
        {"personality 3", with([](auto& s) { s.personality = 3; }), false},
        {"universe 16", with([](auto& s) { s.port.universe = 16; }), false},
        {"short name of 18", with([](auto& s) { s.short_name = std::string(18, 'a'); }), false},
        {"a control character", with([](auto& s) { s.short_name = "a\nb"; }), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkInputSettings input;
        input.remote.remote_config = true;
        std::map<std::string, std::string> stored;
        int dmx_start = 0;
        NodeRemote::PortAddress port;
        NodeRemote::Effects effects;
        effects.store = [&](const std::string& key, const std::string& value) { stored[key] = value; };
        effects.dmx_start = [&](int start) { dmx_start = start; };
        effects.port_address = [&](const NodeRemote::PortAddress& p) { port = p; };
        effects.poll_reply = [] {};
        effects.identify = [](bool) {};
        NodeRemote remote(input, RdmUid(RdmUid::kPrototypeManufacturer, 1), {}, effects, NodeRemote::Clock::now());
        std::string why;
        ASSERT_EQ(remote.check(c.wanted, &why), c.taken) << why;
        if (!c.taken)
            continue;
        remote.takeSettings(c.wanted);
        const std::map<std::string, std::string> expected{
            {"SHORT_NAME", "Stage left"}, {"LONG_NAME", "Spectrafox above stage left"}, {"DMX_START", "21"},
            {"VIDEO_ON_CUE", "1"},        {"SUBNET", "1"},                              {"UNIVERSE", "3"}};
        EXPECT_EQ(stored, expected);
        EXPECT_EQ(dmx_start, 21);
        EXPECT_EQ(port.universe, 3);
        const NodeRemote::Settings now = remote.settings();
        EXPECT_EQ(now.dmx_start, 21);
        EXPECT_EQ(now.personality, 2);
        EXPECT_EQ(now.short_name, "Stage left");
    }
}

} // namespace
