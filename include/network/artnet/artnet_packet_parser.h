#pragma once

#include <cstdint>

#include "base/timecode.h"
#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

enum class ArtnetPacketKind {
    Unrecognised, // not Art-Net, or an OpCode this node does not handle
    Poll,
    Dmx,          // any ArtDmx, addressed to this node or not
    Sync,         // ArtSync
    TimeCode,     // ArtTimeCode whose fields are all in range
};

struct ArtnetParseResult {
    ArtnetPacketKind kind = ArtnetPacketKind::Unrecognised;
    // True when channel values were copied into the universe table.
    bool channels_updated = false;
    // How many channels, from channel 1, were copied.
    int channels_carried = 0;
    // The address an ArtTimeCode carries.
    Timecode timecode;
};

// Recognises ArtPoll, ArtDmx, ArtSync and ArtTimeCode in a received datagram and copies the
// channel values of an ArtDmx for the listened-to sub-net and universe (and
// Net, when one is given). Pure: no I/O, no allocation, never reads past the
// received bytes.
class ArtnetPacketParser {
public:
    // Packets of every Net are taken.
    static constexpr int kAnyNet = -1;

    ArtnetPacketParser(unsigned int subnet, unsigned int universe, int net = kAnyNet);

    // data holds len received bytes; a negative len (a failed receive) is
    // never a packet.
    ArtnetParseResult parse(const uint8_t* data, long len, Artnet::DmxUniverse& dmx512) const;
    // A desk moved the node (ArtAddress); the next ArtDmx is matched against it.
    void setPortAddress(unsigned int subnet, unsigned int universe, int net);

private:
    static bool hasArtnetId(const uint8_t* data);
    bool isForThisNode(uint8_t sub_uni, uint8_t net_byte) const;
    int copyChannels(const uint8_t* data, long len, Artnet::DmxUniverse& dmx512) const;

    unsigned int subnet;
    unsigned int universe;
    int net;
};

} // namespace Spectrafox
