#include "canvas/canvas_content/content_interface.h"

namespace Spectrafox {

// Pure, yet every derived destructor runs it last.
ContentInterface::~ContentInterface() {}

} // namespace Spectrafox
