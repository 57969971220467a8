#include "network/artnet/art_poll_reply.h"

#include <algorithm>
#include <cstring>

namespace Spectrafox {

using namespace Artnet;

ArtPollReply::Bytes ArtPollReply::build(uint32_t my_ip_address, int subnet, int universe, int net)
{
    Node node;
    node.subnet = subnet;
    node.universe = universe;
    node.net = net;
    return build(my_ip_address, node);
}

ArtPollReply::Bytes ArtPollReply::build(uint32_t my_ip_address, const Node& node)
{
    Bytes reply{}; // every field not set below is zero
    std::copy(kId.begin(), kId.end(), reply.begin());
    reply[kOpCodeOffset] = kOpPollReply & 0xFF;
    reply[kOpCodeOffset + 1] = kOpPollReply >> 8;
    for (int i = 0; i < 4; ++i)
        reply[kReplyIpOffset + i] = static_cast<uint8_t>(my_ip_address >> (24 - 8 * i));
    reply[kReplyPortOffset] = kPort & 0xFF;
    reply[kReplyPortOffset + 1] = kPort >> 8;
    reply[kReplyNetSwitchOffset] = static_cast<uint8_t>(node.net);
    reply[kReplySubSwitchOffset] = static_cast<uint8_t>(node.subnet);
    reply[kReplyOemHiOffset] = kOemCode >> 8;
    reply[kReplyOemLoOffset] = kOemCode & 0xFF;
    if (node.rdm_capable)
        reply[kReplyStatus1Offset] = kStatus1RdmCapable;
    putText(reply, kReplyShortNameOffset, kReplyShortNameSize, node.short_name.c_str());
    putText(reply, kReplyLongNameOffset, kReplyLongNameSize, node.long_name.c_str());
    putText(reply, kReplyNodeReportOffset, kReplyNodeReportSize, kNodeReport);
    reply[kReplyNumPortsLoOffset] = 1;
    reply[kReplyPortTypesOffset] = kPortTypeDmxOutput;
    reply[kReplyGoodOutputOffset] = kGoodOutputTransmitting;
    reply[kReplySwOutOffset] = static_cast<uint8_t>(node.universe);
    reply[kReplyStyleOffset] = kStyleNode;
    return reply;
}

// Zero-filled field with the text and its terminating zero at the start.
void ArtPollReply::putText(Bytes& reply, std::size_t offset, std::size_t field_size,
                           const char* text)
{
    std::fill_n(reply.begin() + offset, field_size, 0);
    const std::size_t length = std::min(std::strlen(text), field_size - 1);
    std::memcpy(reply.data() + offset, text, length);
}

} // namespace Spectrafox
