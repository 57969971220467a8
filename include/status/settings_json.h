#pragma once

#include <string>

#include "network/node_remote.h"

namespace Spectrafox {

// The addressing as the admin API speaks it: settings.txt's keys, typed.
// SHORT_NAME, LONG_NAME strings; DMX_START, PERSONALITY, SUBNET, UNIVERSE
// integers; NET an integer, or null for any Net.
class SettingsJson {
public:
    static std::string write(const NodeRemote::Settings& settings);
    // The keys given, onto `settings`. False with the reason for a body that
    // is no JSON object, an unknown key or a wrong type (ranges are the
    // node's to check); `settings` is then unchanged.
    static bool read(const std::string& body, NodeRemote::Settings* settings, std::string* why);
};

} // namespace Spectrafox
