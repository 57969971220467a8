#pragma once

#include <string>

#include "status/node_status.h"

namespace Spectrafox {

// The document of /api/status. "inputs.timecode" is null without a show
// clock; "playback" is kept for cue playback, null until it reports.
std::string statusJson(const NodeSources& sources, const RenderState& render);

} // namespace Spectrafox
