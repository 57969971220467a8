#pragma once

#include <string>

#include "status/node_status.h"

namespace Spectrafox {

// The document of /api/status. Places are kept for state other parts of the
// node will report ("timecode", "playback"): null until they do.
std::string statusJson(const NodeSources& sources, const RenderState& render);

// Dotted-quad of a host-order IPv4 address.
std::string ipv4Text(uint32_t address);

} // namespace Spectrafox
