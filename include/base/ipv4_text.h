#pragma once

#include <cstdint>
#include <string>

namespace Spectrafox {

// Dotted-quad of a host-order IPv4 address.
std::string ipv4Text(uint32_t address);

} // namespace Spectrafox
