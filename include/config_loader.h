#pragma once

#include <string>

#include "network_input_settings.h"

namespace Spectrafox {

// The start-up settings, read once from ./config.txt. Out-of-range values are
// replaced by defaults; a value that is not a number at all (or does not fit
// the field's type) leaves the field as it was.
class ConfigLoader {
public:
    ConfigLoader();
    // Reads another file instead of ./config.txt (used by tests and tools).
    explicit ConfigLoader(const std::string& path);

    int getArtnetUniverse() const { return artnet_universe; }
    int getArtnetSubnet() const { return artnet_subnet; }
    int getLasersimNum() const { return lasersim_num; }
    int getLasersimDMXStart() const { return lasersim_dmx_start; }
    int getZoomType() const { return zooming_type; }
    float getScalingMultiplier() const { return scaling_multiplier; }
    int getLedGpioPin() const { return led_gpio_pin; }
    // NET= (-1: every Net) and SACN_UNIVERSE= (0: no sACN).
    int getArtnetNet() const { return input.artnet_net; }
    int getSacnUniverse() const { return input.sacn_universe; }
    const NetworkInputSettings& getNetworkInputSettings() const { return input; }

    static void cleanLine(std::string& line);
    void parseCleanLine(std::string& line);

private:
    void setDefaults();
    void loadConfigFile(const std::string& path);
    void applyCrossCheck();

    int artnet_universe;
    int artnet_subnet;
    int lasersim_num;
    int lasersim_dmx_start;
    int zooming_type;
    float scaling_multiplier;
    int led_gpio_pin;
    NetworkInputSettings input;
};

} // namespace Spectrafox
