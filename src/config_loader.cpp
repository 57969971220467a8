#include "config_loader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "artnet_protocol.h"
#include "sacn_protocol.h"

namespace Spectrafox {

namespace {

constexpr int kMaxDmxChannel = 512;
constexpr int kChannelsPerCanvas = 20;

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

void readIntInRange(const std::string& text, int* field, int lo, int hi, int replacement)
{
    if (!toInt(text, field))
        return;
    if (*field < lo || *field > hi)
        *field = replacement;
}

bool startsWith(const std::string& line, const char* key)
{
    return line.compare(0, std::char_traits<char>::length(key), key) == 0;
}

} // namespace

ConfigLoader::ConfigLoader()
{
    setDefaults();
    loadConfigFile("config.txt");
}

ConfigLoader::ConfigLoader(const std::string& path)
{
    setDefaults();
    loadConfigFile(path);
}

void ConfigLoader::setDefaults()
{
    artnet_universe = 0;
    artnet_subnet = 0;
    lasersim_num = 1;
    lasersim_dmx_start = 100;
    zooming_type = 1;
    scaling_multiplier = 1.0f;
    led_gpio_pin = -1;
    input = NetworkInputSettings{};
}

void ConfigLoader::loadConfigFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file.is_open())
        return;
    std::string line;
    while (std::getline(file, line)) {
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
    static const char* const kKeys[] = {"SUBNET=", "UNIVERSE=", "ANZAHL=", "DMX_START=",
                                        "ZOOM=", "SCAL_MULT=", "LED_GPIO_PIN=", "NET=",
                                        "SACN_UNIVERSE="};
    int matched = -1;
    for (int i = 0; i < static_cast<int>(std::size(kKeys)) && matched < 0; ++i) {
        if (startsWith(line, kKeys[i])) {
            matched = i;
            line.erase(0, std::char_traits<char>::length(kKeys[i]));
        }
    }
    switch (matched) {
    case 0: readIntInRange(line, &artnet_subnet, 0, 15, 0); break;
    case 1: readIntInRange(line, &artnet_universe, 0, 15, 0); break;
    case 2: readIntInRange(line, &lasersim_num, 1, 25, 1); break;
    case 3: readIntInRange(line, &lasersim_dmx_start, 1, 490, 100); break;
    case 4: {
        int mode = 0;
        if (toInt(line, &mode) && mode == 2)
            zooming_type = 2;
        break;
    }
    case 5: {
        float value = 0.0f;
        if (toFloat(line, &value))
            scaling_multiplier = (value > 0.0f && value < 10.0f) ? value : 1.0f;
        break;
    }
    case 6: readIntInRange(line, &led_gpio_pin, 0, 30, -1); break;
    case 7:
        readIntInRange(line, &input.artnet_net, 0, Artnet::kMaxNet, NetworkInputSettings::kAnyNet);
        break;
    case 8:
        readIntInRange(line, &input.sacn_universe, Sacn::kMinUniverse, Sacn::kMaxUniverse,
                       NetworkInputSettings::kSacnOff);
        break;
    default: break;
    }
    applyCrossCheck();
}

// Runs after every line, so the order of ANZAHL and DMX_START in the file matters.
void ConfigLoader::applyCrossCheck()
{
    if (lasersim_dmx_start + kChannelsPerCanvas * lasersim_num > kMaxDmxChannel) {
        lasersim_dmx_start = 100;
        lasersim_num = 1;
    }
}

} // namespace Spectrafox
