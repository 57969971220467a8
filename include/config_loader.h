#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/geometry.h"
#include "base/timecode.h"
#include "canvas/canvas_content/video_cue_options.h"
#include "network/network_input_settings.h"

namespace Spectrafox {

// The start-up settings, read once from ./config.txt. Out-of-range values are
// replaced by defaults; a value that is not a number at all (or does not fit
// the field's type) leaves the field as it was.
class ConfigLoader {
public:
    ConfigLoader();
    // Reads another file instead of ./config.txt (used by tests and tools);
    // settings.txt is read from the same folder.
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
    // TEXTURE_MEMORY_MB= (0: absent, a share of the machine's memory).
    int getTextureMemoryMb() const { return values.texture_memory_mb; }
    static constexpr int kMinTextureMemoryMb = 16;
    static constexpr int kMaxTextureMemoryMb = 1048576;
    // Every receiver setting: sub-net, universe, Net, sACN, DMX_START,
    // SCAL_MULT and the LED pin.
    const NetworkInputSettings& getNetworkInputSettings() const { return values.input; }
    // WATCH_TEXTURES=1: files changed in ./textures/ take effect while running.
    bool getWatchTextures() const { return values.watch_textures == 1; }

    // TIMECODE=, TIMECODE_FPS= and TIMECODE_FREEWHEEL=.
    struct TimecodeSettings {
        enum Mode { Off = 0, Chase = 1, Master = 2 };
        Mode mode = Off;
        Timecode::Type type = Timecode::Ebu25; // what a master sends
        int freewheel_seconds = 2;
    };
    TimecodeSettings getTimecodeSettings() const;
    int getTimecodeFreewheel() const { return values.timecode_freewheel; }
    // HTTP_PORT= (0: no status page) and HTTP_BIND= (empty: every interface).
    int getHttpPort() const { return values.http_port; }
    const std::string& getHttpBind() const { return values.http_bind; }
    // HTTP_ADMIN_TOKEN= (empty: no admin API); never listed among the
    // settings in force, which the read-only page shows.
    const std::string& getHttpAdminToken() const { return http_admin_token; }
    // UPLOAD_MAX_MB=: the largest file the admin API takes.
    int getUploadMaxMb() const { return values.upload_max_mb; }
    static constexpr int kMaxUploadMb = 1048576;
    // CITP=1: the node answers desks over CITP/MSEX; CITP_PORT= (0: any free port).
    bool getCitp() const { return values.citp == 1; }
    int getCitpPort() const { return values.citp_port; }
    // Every key (with its '=') and the value in force, in table order.
    std::vector<std::pair<std::string, std::string>> settingsInForce() const;
    // VIDEO_ON_CUE= and VIDEO_DECODERS= (no notice set).
    VideoCueOptions getVideoCueOptions() const;
    // The keys settings.txt gave (with their '='), which win over config.txt's.
    const std::vector<std::string>& keysFromSettings() const { return settings_keys; }
    // settings.txt's path, beside the config file read.
    const std::string& settingsPath() const { return settings_path; }

    // REGION=, BLEND_*=, WARP=, MASK=, TEST_PATTERN=: read from the line as
    // written (WARP's corners are separated by spaces). A refused key keeps
    // its default and is named, with the reason, in geometryRefusals().
    const Geometry& getGeometry() const { return geometry; }
    const std::vector<std::string>& geometryRefusals() const { return geometry_refusals; }

    static void cleanLine(std::string& line);
    void parseCleanLine(std::string& line);

private:
    // Every setting, with the default it has without config.txt.
    struct Values {
        NetworkInputSettings input;
        int canvas_count = 1;
        int zoom = 1;
        int timecode_mode = TimecodeSettings::Off;
        float timecode_fps = 25.0f;
        int timecode_freewheel = 2;
        int texture_memory_mb = 0;
        int watch_textures = 0;
        int http_port = 0;
        std::string http_bind;
        int upload_max_mb = 2048;
        int citp = 0;
        int citp_port = 0;
        int video_on_cue = 0;
        int video_decoders = 3;
        int rdm = 0;
        int remote_config = 0;
        std::string rdm_uid;
        int device_hours = 0;
    };
    // One config key: where its value goes, the range it must lie in, and
    // what an out-of-range value does.
    struct Key {
        enum class OutOfRange { Default, Keep };
        const char* name; // with its '='
        int& (*integer)(Values&);   // an integer field, or
        float& (*decimal)(Values&); // a decimal field (its range is open), or
        std::string& (*address)(Values&); // an IPv4 address (lo, hi unused)
        double lo, hi;
        OutOfRange out_of_range;
        // A word key: the integer field takes the index of the word given
        // (the list ends with a null); an unknown word leaves it alone.
        const char* const* words = nullptr;
    };
    static const Key kKeys[];

    void loadConfigFile(const std::string& path);
    void loadSettingsFile(const std::string& path);
    bool takeTextSetting(const std::string& key, const std::string& value);
    void fillRemote();
    void applyCrossCheck();
    static void readInteger(const Key& key, const std::string& text, Values& values);
    static void readDecimal(const Key& key, const std::string& text, Values& values);
    static void readWord(const Key& key, const std::string& text, Values& values);
    static void readAddress(const Key& key, const std::string& text, Values& values);

    Values values;
    Geometry geometry;
    std::vector<std::string> geometry_refusals;
    // Texts only settings.txt holds: they keep their spaces.
    std::string device_label, short_name, long_name;
    std::vector<std::string> settings_keys;
    std::string http_admin_token;
    std::string settings_path;
};

} // namespace Spectrafox
