#include "network/sacn/sacn_merger.h"

#include <algorithm>

namespace Spectrafox {

bool SacnMerger::take(const SacnDataPacket& packet, Clock::time_point now)
{
    Source* source = find(packet.cid);
    if (source && isLate(packet.sequence, source->last_sequence))
        return false;
    if (packet.stream_terminated) {
        // The packet's data are not used; the source ends with it.
        if (!source)
            return false;
        remove(source);
        if (source_count == 0)
            return false;
        merge();
        return true;
    }
    if (!source && !(source = add(packet)))
        return false;
    source->priority = packet.priority;
    source->last_sequence = packet.sequence;
    source->last_heard = now;
    const int count = std::clamp(packet.slot_count, 0, Artnet::kDmxUniverseChannels);
    std::copy_n(packet.slots, count, source->slots.begin());
    std::fill(source->slots.begin() + count, source->slots.end(), 0);
    source->slot_count = count;
    merge();
    return true;
}

bool SacnMerger::expire(Clock::time_point now)
{
    bool ended = false;
    for (std::size_t i = 0; i < source_count;) {
        if (now - sources[i].last_heard >= Sacn::kSourceTimeout) {
            remove(&sources[i]);
            ended = true;
        } else {
            ++i;
        }
    }
    if (!ended || source_count == 0)
        return false;
    merge();
    return true;
}

SacnMerger::Source* SacnMerger::find(const Sacn::Cid& cid)
{
    for (std::size_t i = 0; i < source_count; ++i)
        if (sources[i].cid == cid)
            return &sources[i];
    return nullptr;
}

SacnMerger::Source* SacnMerger::add(const SacnDataPacket& packet)
{
    if (source_count == kMaxSources)
        return nullptr;
    Source& source = sources[source_count++];
    source.cid = packet.cid;
    return &source;
}

// The last live source takes the freed place, so live sources stay packed.
void SacnMerger::remove(Source* source)
{
    Source& last = sources[source_count - 1];
    if (source != &last)
        *source = last;
    --source_count;
}

// Late means 0 to kSequenceLateWindow - 1 behind in 8-bit wrap-around
// arithmetic: 255 before 0 is one behind, 0 after 255 one ahead.
bool SacnMerger::isLate(uint8_t sequence, uint8_t last_sequence)
{
    const int behind = static_cast<int8_t>(static_cast<uint8_t>(last_sequence - sequence));
    return behind >= 0 && behind < Sacn::kSequenceLateWindow;
}

void SacnMerger::merge()
{
    uint8_t top = 0;
    for (std::size_t i = 0; i < source_count; ++i)
        top = std::max(top, sources[i].priority);
    merged.fill(0);
    merged_channels = 0;
    for (std::size_t i = 0; i < source_count; ++i) {
        const Source& source = sources[i];
        if (source.priority != top)
            continue;
        merged_channels = std::max(merged_channels, source.slot_count);
        for (int c = 0; c < source.slot_count; ++c)
            merged[c] = std::max(merged[c], source.slots[c]);
    }
}

} // namespace Spectrafox
