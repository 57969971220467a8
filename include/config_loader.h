#pragma once

#include <string>

#include "canvas/canvas_content/video_cue_options.h"
#include "network/network_input_settings.h"

namespace Spectrafox {

// The start-up settings, read once from ./config.txt. Out-of-range values are
// replaced by defaults; a value that is not a number at all (or does not fit
// the field's type) leaves the field as it was.
class ConfigLoader {
public:
    ConfigLoader();
    // Reads another file instead of ./config.txt (used by tests and tools).
    explicit ConfigLoader(const std::string& path);

    int getArtnetUniverse() const { return values.input.artnet_universe; }
    int getArtnetSubnet() const { return values.input.artnet_subnet; }
    int getLasersimNum() const { return values.canvas_count; }
    int getLasersimDMXStart() const { return values.input.dmx_start; }
    int getZoomType() const { return values.zoom; }
    float getScalingMultiplier() const { return values.input.scale_multiplier; }
    int getLedGpioPin() const { return values.input.led_gpio_pin; }
    // NET= (-1: every Net) and SACN_UNIVERSE= (0: no sACN).
    int getArtnetNet() const { return values.input.artnet_net; }
    int getSacnUniverse() const { return values.input.sacn_universe; }
    // Every receiver setting: sub-net, universe, Net, sACN, DMX_START,
    // SCAL_MULT and the LED pin.
    const NetworkInputSettings& getNetworkInputSettings() const { return values.input; }
    // VIDEO_ON_CUE= and VIDEO_DECODERS= (no notice set).
    VideoCueOptions getVideoCueOptions() const;

    static void cleanLine(std::string& line);
    void parseCleanLine(std::string& line);

private:
    // Every setting, with the default it has without config.txt.
    struct Values {
        NetworkInputSettings input;
        int canvas_count = 1;
        int zoom = 1;
        int video_on_cue = 0;
        int video_decoders = 3;
    };
    // One config key: where its value goes, the range it must lie in, and
    // what an out-of-range value does.
    struct Key {
        enum class OutOfRange { Default, Keep };
        const char* name; // with its '='
        int& (*integer)(Values&);   // an integer field, or
        float& (*decimal)(Values&); // a decimal field (its range is open)
        double lo, hi;
        OutOfRange out_of_range;
    };
    static const Key kKeys[];

    void loadConfigFile(const std::string& path);
    void applyCrossCheck();
    static void readInteger(const Key& key, const std::string& text, Values& values);
    static void readDecimal(const Key& key, const std::string& text, Values& values);

    Values values;
};

} // namespace Spectrafox
