#pragma once

namespace Spectrafox {

// What the node listens to besides the Art-Net sub-net and universe. The
// defaults are the node without these options: every Art-Net Net, no sACN.
struct NetworkInputSettings {
    static constexpr int kAnyNet = -1;
    static constexpr int kSacnOff = 0;

    int artnet_net = kAnyNet;      // 0 to 127: ArtDmx must carry this Net
    int sacn_universe = kSacnOff;  // 1 to 63999: also take E1.31 for it
};

} // namespace Spectrafox
