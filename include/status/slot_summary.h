#pragma once

#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"

namespace Spectrafox {

// The console's one-line account of the slots, e.g.
// "Slots: 3 pictures, 1 GIFs, 1 videos playing, 1 waiting; 7, 9: all video decoders taken".
std::string slotSummary(const std::vector<SlotReport>& slots);

} // namespace Spectrafox
