#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "network/artnet/artnet_protocol.h"
#include "network/sacn/sacn_packet_parser.h"
#include "network/sacn/sacn_protocol.h"

namespace Spectrafox {

// Merges the E1.31 sources of one universe: the highest priority wins, and
// among sources of that priority each channel takes the highest value (HTP).
// Each source is tracked by its CID with its own sequence numbers; a late
// packet is dropped, and the stream-terminated option or kSourceTimeout of
// silence ends the source. At most kMaxSources are tracked: packets of
// further sources are dropped until a tracked one ends, so memory stays fixed
// whatever the network sends. Time is passed in, never read here.
//
// Not thread-safe: one thread feeds it.
class SacnMerger {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxSources = 16;

    // Takes one data packet. True when the merged output was recomputed:
    // output() then holds the channels to show.
    bool take(const SacnDataPacket& packet, Clock::time_point now);
    // Ends every source silent for kSourceTimeout. True when one ended and
    // others remain, so the output was recomputed from those. When the last
    // source ends the output keeps its values.
    bool expire(Clock::time_point now);

    // Channels 1 to outputChannels() hold merged values; the rest is 0.
    const Artnet::DmxUniverse& output() const { return merged; }
    int outputChannels() const { return merged_channels; }
    std::size_t sourceCount() const { return source_count; }

private:
    struct Source {
        Sacn::Cid cid{};
        uint8_t priority = 0;
        uint8_t last_sequence = 0;
        int slot_count = 0;
        Clock::time_point last_heard{};
        Artnet::DmxUniverse slots{};
    };

    Source* find(const Sacn::Cid& cid);
    Source* add(const SacnDataPacket& packet);
    void remove(Source* source);
    static bool isLate(uint8_t sequence, uint8_t last_sequence);
    void merge();

    std::array<Source, kMaxSources> sources{};
    std::size_t source_count = 0; // sources[0, source_count) are live
    Artnet::DmxUniverse merged{};
    int merged_channels = 0;
};

} // namespace Spectrafox
