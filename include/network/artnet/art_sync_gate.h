#pragma once

#include <chrono>
#include <cstdint>

namespace Spectrafox {

// Decides when ArtDmx reaches the canvases. Until an ArtSync arrives every
// ArtDmx is applied at once. An ArtSync from the controller that sent the
// most recent ArtDmx for this node switches to synchronous mode: ArtDmx is
// held and applied only at the next ArtSync, so every node changes on the
// same frame. kSyncTimeout without ArtSync switches back. An ArtSync from any
// other address is ignored. Time is passed in, never read here.
//
// Not thread-safe: the listener thread alone uses it.
class ArtSyncGate {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kSyncTimeout{4};

    // An ArtDmx for this node came from `source` (IPv4, any byte order, the
    // same for every call). True: apply it now; false: it is held. Call
    // expire first, so a lapsed synchronous mode does not hold it.
    bool dmxArrived(uint32_t source);
    // True: apply what is held.
    bool syncArrived(uint32_t source, Clock::time_point now);
    // Leaves synchronous mode after kSyncTimeout without ArtSync. True when
    // held data are then to be applied, so no held frame is lost.
    bool expire(Clock::time_point now);

    bool synchronous() const { return sync_mode; }

private:
    bool sync_mode = false;
    bool holding = false;
    bool heard_dmx = false;
    uint32_t dmx_source = 0;
    Clock::time_point last_sync{};
};

} // namespace Spectrafox
