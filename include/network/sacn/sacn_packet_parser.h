#pragma once

#include <cstdint>

#include "network/sacn/sacn_protocol.h"

namespace Spectrafox {

enum class SacnPacketKind {
    Malformed,     // not an E1.31 data packet, or a layer is wrong
    OtherUniverse, // a sound data packet for another universe
    Ignored,       // ours, but preview data or a start code other than 0
    Data,          // DMX data for our universe
};

// One data packet as the merge needs it. `slots` points into the datagram
// that was parsed: it is valid only as long as those bytes are.
struct SacnDataPacket {
    Sacn::Cid cid{};
    uint8_t priority = 0;
    uint8_t sequence = 0;
    bool stream_terminated = false;
    const uint8_t* slots = nullptr; // DMX channel 1 first
    int slot_count = 0;             // 0 to 512
};

struct SacnParseResult {
    SacnPacketKind kind = SacnPacketKind::Malformed;
    SacnDataPacket packet; // filled for Data only
};

// Recognises E1.31 data packets for one universe in a received datagram,
// checking every field of the three layers. Pure: no I/O, no allocation,
// never reads past the received bytes.
class SacnPacketParser {
public:
    explicit SacnPacketParser(int universe);

    // data holds len received bytes; a negative len is never a packet.
    SacnParseResult parse(const uint8_t* data, long len) const;

private:
    static bool rootLayerIsSound(const uint8_t* data, long len);
    static bool framingLayerIsSound(const uint8_t* data);
    static bool dmpLayerIsSound(const uint8_t* data);

    int universe;
};

} // namespace Spectrafox
