#pragma once

namespace Spectrafox {

// Everything the receiver is configured with. The defaults are the node with
// an empty config.txt: sub-net 0, universe 0, canvases from DMX address 100,
// no scaling, no LED, every Art-Net Net, no sACN.
struct NetworkInputSettings {
    static constexpr int kAnyNet = -1;
    static constexpr int kSacnOff = 0;
    static constexpr int kNoLed = -1;

    int artnet_subnet = 0;         // 0 to 15
    int artnet_universe = 0;       // 0 to 15
    int artnet_net = kAnyNet;      // 0 to 127: ArtDmx must carry this Net
    int sacn_universe = kSacnOff;  // 1 to 63999: also take E1.31 for it
    int dmx_start = 100;           // DMX address of the first canvas's block
    float scale_multiplier = 1.0f; // applied to the scaling channels
    int led_gpio_pin = kNoLed;     // sysfs GPIO pin of the status LED
};

} // namespace Spectrafox
