#pragma once

#include <cstdint>
#include <string>

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

    // Addressing from the desk; all off by default.
    struct Remote {
        bool rdm = false;           // RDM=1: an RDM responder on the output port
        bool remote_config = false; // REMOTE_CONFIG=1: ArtAddress, and RDM SETs stored
        std::string uid;            // RDM_UID=; empty: from the MAC address
        int canvas_count = 1;
        int personality = 1;        // 2 with VIDEO_ON_CUE=1
        std::string device_label;
        std::string short_name;     // empty: the product's
        std::string long_name;
        uint32_t device_hours = 0;  // hours run before this start
        int http_port = 0;          // the status page's, for ArtDataReply
        // config.txt's own Port-Address, which ArtAddress's 0x00 goes back to.
        int physical_net = kAnyNet;
        int physical_subnet = 0;
        int physical_universe = 0;

        bool any() const { return rdm || remote_config; }
    };
    Remote remote;
};

} // namespace Spectrafox
