#include "network/artnet/art_data_request.h"

#include <algorithm>
#include <cstring>

#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

using namespace Artnet;

bool ArtDataRequest::parse(const uint8_t* data, std::size_t size, uint16_t* code)
{
    if (size < kDataRequestSize || std::memcmp(data, kId.data(), kId.size()) != 0 ||
        (data[kOpCodeOffset] | data[kOpCodeOffset + 1] << 8) != kOpDataRequest ||
        (data[kProtVerOffset] << 8 | data[kProtVerOffset + 1]) < kProtVer)
        return false;
    *code = static_cast<uint16_t>(data[kDataRequestCodeOffset] << 8 | data[kDataRequestCodeOffset + 1]);
    return true;
}

std::vector<uint8_t> ArtDataRequest::reply(uint16_t code, const std::string& text)
{
    std::vector<uint8_t> payload(text.begin(), text.begin() + std::min(text.size(), kDataReplyMaxPayload - 1));
    payload.push_back(0);
    return replyWith(code, payload);
}

std::vector<uint8_t> ArtDataRequest::pollReply(const std::vector<uint16_t>& codes)
{
    std::vector<uint8_t> payload;
    for (uint16_t code : codes) {
        payload.push_back(static_cast<uint8_t>(code >> 8));
        payload.push_back(static_cast<uint8_t>(code));
    }
    return replyWith(kPoll, payload);
}

std::vector<uint8_t> ArtDataRequest::replyWith(uint16_t code, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> packet(kDataReplyPayloadOffset + payload.size(), 0);
    std::copy(kId.begin(), kId.end(), packet.begin());
    packet[kOpCodeOffset] = kOpDataReply & 0xFF;
    packet[kOpCodeOffset + 1] = kOpDataReply >> 8;
    packet[kProtVerOffset + 1] = kProtVer;
    packet[kDataOemOffset] = kOemCode >> 8;
    packet[kDataOemOffset + 1] = kOemCode & 0xFF;
    packet[kDataRequestCodeOffset] = static_cast<uint8_t>(code >> 8);
    packet[kDataRequestCodeOffset + 1] = static_cast<uint8_t>(code);
    packet[kDataReplyLengthOffset] = static_cast<uint8_t>(payload.size() >> 8);
    packet[kDataReplyLengthOffset + 1] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), packet.begin() + kDataReplyPayloadOffset);
    return packet;
}

} // namespace Spectrafox
