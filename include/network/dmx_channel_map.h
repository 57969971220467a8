#pragma once

#include <cstdint>
#include <vector>

#include "network/artnet/artnet_protocol.h"
#include "base/dmx_layout.h"

namespace Spectrafox {

class Canvas;

// Turns the 512 channel values of the universe into the parameters of every
// canvas of a group. Canvas i reads the 20-channel block that starts at DMX
// address dmx_start + 20 * i; every value is a single 8-bit channel.
class DmxChannelMap {
public:
    static constexpr int kChannelsPerCanvas = Dmx::kChannelsPerCanvas;

    DmxChannelMap(int dmx_start, float scale_multiplier);

    // Writes every canvas whose block lies inside the universe; a canvas
    // whose block would reach past channel 512 keeps its values.
    void apply(const Artnet::DmxUniverse& dmx512, const std::vector<Canvas*>& group,
               float screen_ratio) const;

    // A new start address (RDM); the caller holds the lock of apply's table.
    void setStart(int start) { dmx_start = start; }

    // Rotation speed in degrees per frame for a speed channel value; 0 in the
    // band 120 to 134, fastest at 0 and 255.
    static float speedForChannel(uint8_t value);
    // Fixed angle for an angle channel value above 0.
    static float angleForChannel(uint8_t value);

private:
    using FloatSetter = void (Canvas::*)(float);

    const uint8_t* blockFor(const Artnet::DmxUniverse& dmx512, std::size_t canvas_index) const;
    void applyBlock(const uint8_t* block, Canvas& canvas, float screen_ratio) const;
    static void applyRotation(uint8_t angle, uint8_t speed, Canvas& canvas,
                              FloatSetter set_angle, FloatSetter set_speed);

    int dmx_start;
    float scale_multiplier;
};

} // namespace Spectrafox
