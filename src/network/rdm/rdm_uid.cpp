#include "network/rdm/rdm_uid.h"

#include <cinttypes>
#include <cstdio>

namespace Spectrafox {

bool RdmUid::parse(const std::string& text, RdmUid* uid)
{
    unsigned int manufacturer = 0;
    unsigned long device = 0;
    int consumed = 0;
    if (text.size() != 13 || std::sscanf(text.c_str(), "%4x:%8lx%n", &manufacturer, &device, &consumed) != 2 ||
        consumed != 13 || text[4] != ':')
        return false;
    *uid = RdmUid(static_cast<uint16_t>(manufacturer), static_cast<uint32_t>(device));
    return true;
}

bool RdmUid::fromMac(const std::string& mac, RdmUid* uid)
{
    unsigned int b[6];
    int consumed = 0;
    if (std::sscanf(mac.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%n", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &consumed) != 6 || consumed != 17)
        return false;
    const uint32_t device = static_cast<uint32_t>(b[2]) << 24 | b[3] << 16 | b[4] << 8 | b[5];
    *uid = RdmUid(kPrototypeManufacturer, device);
    return true;
}

RdmUid RdmUid::read(const uint8_t* bytes)
{
    return RdmUid(static_cast<uint16_t>(bytes[0] << 8 | bytes[1]),
                  static_cast<uint32_t>(bytes[2]) << 24 | bytes[3] << 16 | bytes[4] << 8 | bytes[5]);
}

void RdmUid::write(uint8_t* bytes) const
{
    bytes[0] = static_cast<uint8_t>(manufacturer >> 8);
    bytes[1] = static_cast<uint8_t>(manufacturer);
    for (int i = 0; i < 4; ++i)
        bytes[2 + i] = static_cast<uint8_t>(device >> (24 - 8 * i));
}

std::string RdmUid::text() const
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04x:%08" PRIx32, manufacturer, device);
    return buffer;
}

bool RdmUid::receives(const RdmUid& destination) const
{
    if (destination == *this)
        return true;
    return destination.device == kAllDevices &&
           (destination.manufacturer == 0xFFFF || destination.manufacturer == manufacturer);
}

} // namespace Spectrafox
