#include "network/artnet/art_sync_gate.h"

namespace Spectrafox {

bool ArtSyncGate::dmxArrived(uint32_t source)
{
    heard_dmx = true;
    dmx_source = source;
    if (!sync_mode)
        return true;
    holding = true;
    return false;
}

bool ArtSyncGate::syncArrived(uint32_t source, Clock::time_point now)
{
    if (!heard_dmx || source != dmx_source)
        return false;
    sync_mode = true;
    last_sync = now;
    const bool apply = holding;
    holding = false;
    return apply;
}

bool ArtSyncGate::expire(Clock::time_point now)
{
    if (!sync_mode || now - last_sync < kSyncTimeout)
        return false;
    sync_mode = false;
    const bool apply = holding;
    holding = false;
    return apply;
}

} // namespace Spectrafox
