#pragma once

#include <cstddef>

// The GDTF profile of fixtures/ as it was at build time (the build writes
// its bytes), so the node can serve it without a file beside it.
namespace Spectrafox::BuiltInFixture {

extern const unsigned char kGdtf[];
extern const size_t kGdtfSize;

} // namespace Spectrafox::BuiltInFixture
