#pragma once

#include <string>

namespace Spectrafox {

// The page at "/": self-contained (inline style and script, nothing from
// outside the node), it reads /api/status and the preview once a second.
const std::string& statusPageHtml();

} // namespace Spectrafox
