#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "network/rdm/rdm_protocol.h"
#include "network/rdm/rdm_uid.h"

namespace Spectrafox {

// One RDM message as Art-Net carries it: from the sub-start code to the
// checksum, without the start code (the checksum counts it all the same).
class RdmMessage {
public:
    enum class Parse { Ok, TooShort, BadSubStart, BadLength, BadChecksum };

    // Every length is checked: the message length byte against the bytes
    // received and the data length against the message length. Bytes after
    // the checksum are ignored.
    static Parse parse(const uint8_t* data, std::size_t size, RdmMessage* message);
    // The bytes of the message with its message length and checksum; the data
    // must fit Rdm::kMaxDataLength.
    std::vector<uint8_t> build() const;
    // The 16-bit sum of the start code and every byte up to the checksum.
    static uint16_t checksum(const uint8_t* without_start_code, std::size_t size);

    RdmUid destination;
    RdmUid source;
    uint8_t transaction = 0;
    uint8_t port_or_response = 0;
    uint8_t message_count = 0;
    uint16_t sub_device = 0;
    uint8_t command_class = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> data;
};

} // namespace Spectrafox
