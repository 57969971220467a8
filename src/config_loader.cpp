#include "config_loader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <strings.h>

#include "base/settings_file.h"
#include "network/artnet/artnet_protocol.h"
#include "base/dmx_layout.h"
#include "network/sacn/sacn_protocol.h"

namespace Spectrafox {

namespace {

// Base-10 conversion that stops at the first non-digit. Returns false when no
// digit was found or the number does not fit an int.
bool toInt(const std::string& text, int* out)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    *out = static_cast<int>(value);
    return true;
}

// Decimal-point conversion in the C locale; "1,5" reads as 1.
bool toFloat(const std::string& text, float* out)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    float value = std::strtof(begin, &end);
    if (end == begin || errno == ERANGE)
        return false;
    *out = value;
    return true;
}

bool startsWith(const std::string& line, const char* key)
{
    return line.compare(0, std::char_traits<char>::length(key), key) == 0;
}

// TIMECODE= words, by TimecodeSettings::Mode.
constexpr const char* kTimecodeModes[] = {"off", "chase", "master", nullptr};

} // namespace

// The manual's config table (docs/operating.md) lists the same keys, ranges and defaults.
const ConfigLoader::Key ConfigLoader::kKeys[] = {
    {"SUBNET=", [](Values& v) -> int& { return v.input.artnet_subnet; }, nullptr, nullptr, 0, 15, Key::OutOfRange::Default},
    {"UNIVERSE=", [](Values& v) -> int& { return v.input.artnet_universe; }, nullptr, nullptr, 0, 15,
     Key::OutOfRange::Default},
    {"ANZAHL=", [](Values& v) -> int& { return v.canvas_count; }, nullptr, nullptr, 1, Dmx::kMaxCanvases,
     Key::OutOfRange::Default},
    {"DMX_START=", [](Values& v) -> int& { return v.input.dmx_start; }, nullptr, nullptr, 1, Dmx::kMaxStart,
     Key::OutOfRange::Default},
    // Only 2 (circular) changes the ring mode.
    {"ZOOM=", [](Values& v) -> int& { return v.zoom; }, nullptr, nullptr, 2, 2, Key::OutOfRange::Keep},
    {"SCAL_MULT=", nullptr, [](Values& v) -> float& { return v.input.scale_multiplier; }, nullptr, 0, 10,
     Key::OutOfRange::Default},
    {"LED_GPIO_PIN=", [](Values& v) -> int& { return v.input.led_gpio_pin; }, nullptr, nullptr, 0, 30,
     Key::OutOfRange::Default},
    {"NET=", [](Values& v) -> int& { return v.input.artnet_net; }, nullptr, nullptr, 0, Artnet::kMaxNet,
     Key::OutOfRange::Default},
    {"SACN_UNIVERSE=", [](Values& v) -> int& { return v.input.sacn_universe; }, nullptr, nullptr, Sacn::kMinUniverse,
     Sacn::kMaxUniverse, Key::OutOfRange::Default},
    {"TIMECODE=", [](Values& v) -> int& { return v.timecode_mode; }, nullptr, nullptr, 0, 0, Key::OutOfRange::Keep,
     kTimecodeModes},
    // Only 24, 25, 29.97 and 30 name a timecode type; any other rate gives 25.
    {"TIMECODE_FPS=", nullptr, [](Values& v) -> float& { return v.timecode_fps; }, nullptr, 23, 31,
     Key::OutOfRange::Default},
    {"TIMECODE_FREEWHEEL=", [](Values& v) -> int& { return v.timecode_freewheel; }, nullptr, nullptr, 0, 60,
     Key::OutOfRange::Default},
    {"TEXTURE_MEMORY_MB=", [](Values& v) -> int& { return v.texture_memory_mb; }, nullptr, nullptr,
     kMinTextureMemoryMb, kMaxTextureMemoryMb, Key::OutOfRange::Default},
    {"WATCH_TEXTURES=", [](Values& v) -> int& { return v.watch_textures; }, nullptr, nullptr, 0, 1,
     Key::OutOfRange::Default},
    {"HTTP_PORT=", [](Values& v) -> int& { return v.http_port; }, nullptr, nullptr, 1, 65535,
     Key::OutOfRange::Default},
    {"HTTP_BIND=", nullptr, nullptr, [](Values& v) -> std::string& { return v.http_bind; }, 0, 0,
     Key::OutOfRange::Default},
    {"CITP=", [](Values& v) -> int& { return v.citp; }, nullptr, nullptr, 0, 1, Key::OutOfRange::Default},
    {"CITP_PORT=", [](Values& v) -> int& { return v.citp_port; }, nullptr, nullptr, 1, 65535,
     Key::OutOfRange::Default},
    {"VIDEO_ON_CUE=", [](Values& v) -> int& { return v.video_on_cue; }, nullptr, nullptr, 0, 1,
     Key::OutOfRange::Default},
    {"VIDEO_DECODERS=", [](Values& v) -> int& { return v.video_decoders; }, nullptr, nullptr, 1,
     VideoPlayerLimits::kMostDecoders, Key::OutOfRange::Default},
    {"RDM=", [](Values& v) -> int& { return v.rdm; }, nullptr, nullptr, 0, 1, Key::OutOfRange::Default},
    {"REMOTE_CONFIG=", [](Values& v) -> int& { return v.remote_config; }, nullptr, nullptr, 0, 1,
     Key::OutOfRange::Default},
    // Checked where it is used: a wrong UID is said there and the MAC's taken.
    {"RDM_UID=", nullptr, nullptr, [](Values& v) -> std::string& { return v.rdm_uid; }, 0, 0,
     Key::OutOfRange::Default},
    {"DEVICE_HOURS=", [](Values& v) -> int& { return v.device_hours; }, nullptr, nullptr, 0, INT_MAX,
     Key::OutOfRange::Default},
};

VideoCueOptions ConfigLoader::getVideoCueOptions() const
{
    VideoCueOptions video;
    video.on_cue = values.video_on_cue == 1;
    video.decoders = values.video_decoders;
    return video;
}

ConfigLoader::ConfigLoader() : ConfigLoader("config.txt") {}

ConfigLoader::ConfigLoader(const std::string& path)
{
    loadConfigFile(path);
    // ArtAddress's 0x00 goes back to these, whatever settings.txt says.
    NetworkInputSettings::Remote& remote = values.input.remote;
    remote.physical_net = values.input.artnet_net;
    remote.physical_subnet = values.input.artnet_subnet;
    remote.physical_universe = values.input.artnet_universe;
    settings_path = SettingsFile::besideConfig(path);
    loadSettingsFile(settings_path);
    fillRemote();
}

// Read after config.txt, so its values win; a line that is no setting is
// skipped, as in config.txt.
void ConfigLoader::loadSettingsFile(const std::string& path)
{
    SettingsFile settings(path);
    settings.load();
    for (const auto& [key, value] : settings.entries()) {
        if (!takeTextSetting(key, value)) {
            std::string line = key + "=" + value;
            cleanLine(line);
            parseCleanLine(line);
        }
        settings_keys.push_back(key + "=");
    }
}

bool ConfigLoader::takeTextSetting(const std::string& key, const std::string& value)
{
    std::string* text = key == "DEVICE_LABEL" ? &device_label
                        : key == "SHORT_NAME" ? &short_name
                        : key == "LONG_NAME"  ? &long_name
                                              : nullptr;
    if (text)
        *text = value;
    return text != nullptr;
}

void ConfigLoader::fillRemote()
{
    NetworkInputSettings::Remote& remote = values.input.remote;
    remote.rdm = values.rdm == 1;
    remote.remote_config = values.remote_config == 1;
    remote.uid = values.rdm_uid;
    remote.canvas_count = values.canvas_count;
    remote.personality = values.video_on_cue == 1 ? 2 : 1;
    remote.device_label = device_label;
    remote.short_name = short_name;
    remote.long_name = long_name;
    remote.device_hours = static_cast<uint32_t>(values.device_hours);
    remote.http_port = values.http_port;
}

void ConfigLoader::loadConfigFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file.is_open())
        return;
    std::string line;
    while (std::getline(file, line)) {
        std::string refusal;
        if (geometry.applyLine(line, &refusal)) {
            if (!refusal.empty())
                geometry_refusals.push_back(refusal);
            continue;
        }
        cleanLine(line);
        parseCleanLine(line);
    }
}

void ConfigLoader::cleanLine(std::string& line)
{
    std::string result;
    result.reserve(line.size());
    for (char c : line) {
        if (c == '#')
            break;
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x21 && u <= 0x7E)
            result.push_back(c);
    }
    line.swap(result);
}

void ConfigLoader::parseCleanLine(std::string& line)
{
    // The admin keys stay off the list of settings in force: the page
    // without a token shows what it showed before them, and never the token.
    static const std::string kAdminToken = "HTTP_ADMIN_TOKEN=";
    static const std::string kUploadMax = "UPLOAD_MAX_MB=";
    int megabytes = 0;
    if (startsWith(line, kAdminToken.c_str())) {
        http_admin_token = line.substr(kAdminToken.size());
        return;
    }
    if (startsWith(line, kUploadMax.c_str())) {
        if (toInt(line.substr(kUploadMax.size()), &megabytes))
            values.upload_max_mb = megabytes >= 1 && megabytes <= kMaxUploadMb ? megabytes : Values().upload_max_mb;
        return;
    }
    for (const Key& key : kKeys) {
        if (!startsWith(line, key.name))
            continue;
        line.erase(0, std::char_traits<char>::length(key.name));
        if (key.words)
            readWord(key, line, values);
        else if (key.integer)
            readInteger(key, line, values);
        else if (key.decimal)
            readDecimal(key, line, values);
        else
            readAddress(key, line, values);
        break;
    }
    applyCrossCheck();
}

// Out of range: the field's default (or, for Keep, the value it had).
void ConfigLoader::readInteger(const Key& key, const std::string& text, Values& target)
{
    int value = 0;
    if (!toInt(text, &value))
        return;
    if (value >= key.lo && value <= key.hi) {
        key.integer(target) = value;
    } else if (key.out_of_range == Key::OutOfRange::Default) {
        Values defaults;
        key.integer(target) = key.integer(defaults);
    }
}

void ConfigLoader::readDecimal(const Key& key, const std::string& text, Values& target)
{
    float value = 0.0f;
    if (!toFloat(text, &value))
        return;
    if (value > key.lo && value < key.hi) {
        key.decimal(target) = value;
    } else if (key.out_of_range == Key::OutOfRange::Default) {
        Values defaults;
        key.decimal(target) = key.decimal(defaults);
    }
}

void ConfigLoader::readWord(const Key& key, const std::string& text, Values& target)
{
    for (int index = 0; key.words[index]; ++index) {
        if (strcasecmp(text.c_str(), key.words[index]) == 0)
            key.integer(target) = index;
    }
}

ConfigLoader::TimecodeSettings ConfigLoader::getTimecodeSettings() const
{
    TimecodeSettings settings;
    settings.mode = static_cast<TimecodeSettings::Mode>(values.timecode_mode);
    Timecode::Type type = Timecode::Ebu25;
    if (Timecode::typeForRate(values.timecode_fps, &type))
        settings.type = type;
    settings.freewheel_seconds = values.timecode_freewheel;
    return settings;
}

// Kept as written: its user says whether it is an address (the status page
// stays off rather than serve on every interface after a typing error).
void ConfigLoader::readAddress(const Key& key, const std::string& text, Values& target)
{
    key.address(target) = text;
}

std::vector<std::pair<std::string, std::string>> ConfigLoader::settingsInForce() const
{
    std::vector<std::pair<std::string, std::string>> settings;
    Values copy = values;
    for (const Key& key : kKeys) {
        std::string value;
        if (key.words)
            value = key.words[key.integer(copy)];
        else if (key.integer)
            value = std::to_string(key.integer(copy));
        else if (key.decimal)
            value = std::to_string(key.decimal(copy));
        else
            value = key.address(copy);
        settings.emplace_back(key.name, value);
    }
    return settings;
}

// Runs after every line, so the order of ANZAHL and DMX_START in the file matters.
void ConfigLoader::applyCrossCheck()
{
    if (values.input.dmx_start + Dmx::kChannelsPerCanvas * values.canvas_count > Dmx::kUniverseChannels) {
        const Values defaults;
        values.input.dmx_start = defaults.input.dmx_start;
        values.canvas_count = defaults.canvas_count;
    }
}

} // namespace Spectrafox
