#pragma once

#include <string>

#include "status/node_status.h"

namespace Spectrafox {

// The document of /api/status. "inputs.timecode" is null without a show
// clock; "playback" lists the clips that hold a decoder.
std::string statusJson(const NodeSources& sources, const RenderState& render);

} // namespace Spectrafox
