#include "network/rdm/rdm_message.h"

namespace Spectrafox {

using namespace Rdm;

namespace {

// Offsets of the wire format, which has no start code.
constexpr std::size_t at(std::size_t offset_with_start_code)
{
    return offset_with_start_code - 1;
}

} // namespace

uint16_t RdmMessage::checksum(const uint8_t* bytes, std::size_t size)
{
    uint16_t sum = kStartCode;
    for (std::size_t i = 0; i < size; ++i)
        sum = static_cast<uint16_t>(sum + bytes[i]);
    return sum;
}

RdmMessage::Parse RdmMessage::parse(const uint8_t* bytes, std::size_t size, RdmMessage* message)
{
    if (size < at(kDataOffset) + kChecksumSize)
        return Parse::TooShort;
    if (bytes[at(kSubStartOffset)] != kSubStartCode)
        return Parse::BadSubStart;
    const std::size_t length = bytes[at(kLengthOffset)];
    const std::size_t data_length = bytes[at(kDataLengthOffset)];
    if (length < kDataOffset || length - 1 + kChecksumSize > size || data_length != length - kDataOffset)
        return Parse::BadLength;
    const std::size_t body = length - 1;
    const uint16_t sent = static_cast<uint16_t>(bytes[body] << 8 | bytes[body + 1]);
    if (checksum(bytes, body) != sent)
        return Parse::BadChecksum;
    message->destination = RdmUid::read(bytes + at(kDestinationOffset));
    message->source = RdmUid::read(bytes + at(kSourceOffset));
    message->transaction = bytes[at(kTransactionOffset)];
    message->port_or_response = bytes[at(kPortOrResponseOffset)];
    message->message_count = bytes[at(kMessageCountOffset)];
    message->sub_device = static_cast<uint16_t>(bytes[at(kSubDeviceOffset)] << 8 | bytes[at(kSubDeviceOffset) + 1]);
    message->command_class = bytes[at(kCommandClassOffset)];
    message->pid = static_cast<uint16_t>(bytes[at(kPidOffset)] << 8 | bytes[at(kPidOffset) + 1]);
    message->data.assign(bytes + at(kDataOffset), bytes + body);
    return Parse::Ok;
}

std::vector<uint8_t> RdmMessage::build() const
{
    const std::size_t body = at(kDataOffset) + data.size();
    std::vector<uint8_t> bytes(body + kChecksumSize, 0);
    bytes[at(kSubStartOffset)] = kSubStartCode;
    bytes[at(kLengthOffset)] = static_cast<uint8_t>(kDataOffset + data.size());
    destination.write(&bytes[at(kDestinationOffset)]);
    source.write(&bytes[at(kSourceOffset)]);
    bytes[at(kTransactionOffset)] = transaction;
    bytes[at(kPortOrResponseOffset)] = port_or_response;
    bytes[at(kMessageCountOffset)] = message_count;
    bytes[at(kSubDeviceOffset)] = static_cast<uint8_t>(sub_device >> 8);
    bytes[at(kSubDeviceOffset) + 1] = static_cast<uint8_t>(sub_device);
    bytes[at(kCommandClassOffset)] = command_class;
    bytes[at(kPidOffset)] = static_cast<uint8_t>(pid >> 8);
    bytes[at(kPidOffset) + 1] = static_cast<uint8_t>(pid);
    bytes[at(kDataLengthOffset)] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), bytes.begin() + at(kDataOffset));
    const uint16_t sum = checksum(bytes.data(), body);
    bytes[body] = static_cast<uint8_t>(sum >> 8);
    bytes[body + 1] = static_cast<uint8_t>(sum);
    return bytes;
}

} // namespace Spectrafox
