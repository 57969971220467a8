#include "network/artnet/art_address.h"

#include <cstring>

#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

using namespace Artnet;

bool ArtAddress::parse(const uint8_t* data, std::size_t size, Fields* fields)
{
    if (size < kAddressSize || std::memcmp(data, kId.data(), kId.size()) != 0 ||
        (data[kOpCodeOffset] | data[kOpCodeOffset + 1] << 8) != kOpAddress ||
        (data[kProtVerOffset] << 8 | data[kProtVerOffset + 1]) < kProtVer)
        return false;
    fields->net_switch = data[kAddressNetSwitchOffset];
    fields->sub_switch = data[kAddressSubSwitchOffset];
    fields->sw_out = data[kAddressSwOutOffset];
    fields->short_name = name(data + kAddressShortNameOffset, kReplyShortNameSize);
    fields->long_name = name(data + kAddressLongNameOffset, kReplyLongNameSize);
    fields->command = data[kAddressCommandOffset];
    return true;
}

// Up to the first zero; the last byte of the field is always its terminator.
std::string ArtAddress::name(const uint8_t* field, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i + 1 < size && field[i] != 0; ++i) {
        if (field[i] < 0x20 || field[i] > 0x7E)
            return "";
        text.push_back(static_cast<char>(field[i]));
    }
    return text;
}

int ArtAddress::programmed(uint8_t field, int current, int physical, int mask)
{
    if (field == 0x00)
        return physical;
    if (field & 0x80)
        return field & mask;
    return current;
}

} // namespace Spectrafox
