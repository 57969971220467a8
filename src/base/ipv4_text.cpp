#include "base/ipv4_text.h"

namespace Spectrafox {

std::string ipv4Text(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace Spectrafox
