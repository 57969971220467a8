#include "config_loader.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

using Spectrafox::ConfigLoader;
using Spectrafox::Timecode;
using Spectrafox::Test::ScopedChdir;
using Spectrafox::Test::TempDir;

namespace {

struct Expected {
    int subnet, universe, num, dmx_start, zoom;
    float mult;
    int led;
};

struct ConfigCase {
    const char* name;
    const char* file; // nullptr: no config.txt at all
    Expected expected;
};

constexpr Expected kDefaults{0, 0, 1, 100, 1, 1.0f, -1};

Expected with(Expected e, int Expected::*field, int value)
{
    e.*field = value;
    return e;
}

Expected withMult(float mult)
{
    Expected e = kDefaults;
    e.mult = mult;
    return e;
}

class ConfigFileTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFileTest, ReadsTheValuesAfterRangeChecks)
{
    const ConfigCase& c = GetParam();
    TempDir dir;
    if (c.file)
        dir.write("config.txt", c.file);
    ScopedChdir in(dir.path());
    ConfigLoader config;
    EXPECT_EQ(config.getArtnetSubnet(), c.expected.subnet);
    EXPECT_EQ(config.getArtnetUniverse(), c.expected.universe);
    EXPECT_EQ(config.getLasersimNum(), c.expected.num);
    EXPECT_EQ(config.getLasersimDMXStart(), c.expected.dmx_start);
    EXPECT_EQ(config.getZoomType(), c.expected.zoom);
    EXPECT_FLOAT_EQ(config.getScalingMultiplier(), c.expected.mult);
    EXPECT_EQ(config.getLedGpioPin(), c.expected.led);
}

const ConfigCase kCases[] = {
    {"NoFile", nullptr, kDefaults},
    {"EmptyFile", "", kDefaults},
    {"Subnet16", "SUBNET=16\n", kDefaults},
    {"SubnetMinus1", "SUBNET=-1\n", kDefaults},
    {"Subnet15", "SUBNET=15\n", with(kDefaults, &Expected::subnet, 15)},
    {"Universe15", "UNIVERSE=15\n", with(kDefaults, &Expected::universe, 15)},
    {"Universe16", "UNIVERSE=4\nUNIVERSE=16\n", kDefaults},
    {"Num0", "ANZAHL=0\n", kDefaults},
    {"Num26", "ANZAHL=26\n", kDefaults},
    {"Num5", "ANZAHL=5\n", with(kDefaults, &Expected::num, 5)},
    {"DmxStart491", "DMX_START=491\n", kDefaults},
    {"DmxStart0", "DMX_START=0\n", kDefaults},
    {"DmxStart490", "DMX_START=490\n", with(kDefaults, &Expected::dmx_start, 490)},
    {"Zoom2", "ZOOM=2\n", with(kDefaults, &Expected::zoom, 2)},
    {"Zoom3KeepsMode", "ZOOM=3\n", kDefaults},
    {"Zoom1AfterZoom2StaysTwo", "ZOOM=2\nZOOM=1\n", with(kDefaults, &Expected::zoom, 2)},
    {"Zoom3AfterZoom2StaysTwo", "ZOOM=2\nZOOM=3\n", with(kDefaults, &Expected::zoom, 2)},
    {"ScalMult0", "SCAL_MULT=0\n", kDefaults},
    {"ScalMult10", "SCAL_MULT=10\n", kDefaults},
    {"ScalMult999", "SCAL_MULT=9.99\n", withMult(9.99f)},
    {"ScalMultHalf", "SCAL_MULT=0.5\n", withMult(0.5f)},
    {"ScalMultDecimalComma", "SCAL_MULT=2,5\n", withMult(2.0f)},
    {"ScalMultCommaOne", "SCAL_MULT=1,5\n", withMult(1.0f)},
    {"Led31", "LED_GPIO_PIN=31\n", kDefaults},
    {"Led0", "LED_GPIO_PIN=0\n", with(kDefaults, &Expected::led, 0)},
    {"Led30", "LED_GPIO_PIN=30\n", with(kDefaults, &Expected::led, 30)},
    {"StartThen25Canvases", "DMX_START=1\nANZAHL=25\n", {0, 0, 25, 1, 1, 1.0f, -1}},
    {"TwentyFiveThenStartIsReset", "ANZAHL=25\nDMX_START=1\n", with(kDefaults, &Expected::dmx_start, 1)},
    {"Start13Then25Resets", "DMX_START=13\nANZAHL=25\n", kDefaults},
    {"BlanksAndComment", "  UNIVERSE =  7   # the stage universe\n", with(kDefaults, &Expected::universe, 7)},
    {"TabsAndCrLf", "\tSUBNET\t=\t3\r\nUNIVERSE=5\r\n", {3, 5, 1, 100, 1, 1.0f, -1}},
    {"BlanksInsideNumber", "DMX_START= 2 0 0\n", with(kDefaults, &Expected::dmx_start, 200)},
    {"HighBytesDropped", "UNI\xC3\xA4VERSE=9\n", with(kDefaults, &Expected::universe, 9)},
    {"CommentLine", "# UNIVERSE=5\n", kDefaults},
    {"LowerCaseKey", "universe=5\n", kDefaults},
    {"TrailingLetters", "ANZAHL=1x\nANZAHL=3abc\n", with(kDefaults, &Expected::num, 3)},
    {"LastOccurrenceWins", "UNIVERSE=2\nUNIVERSE=6\n", with(kDefaults, &Expected::universe, 6)},
    {"NoNumberKeepsValue", "UNIVERSE=4\nUNIVERSE=\n", with(kDefaults, &Expected::universe, 4)},
    {"WordKeepsValue", "UNIVERSE=4\nUNIVERSE=four\n", with(kDefaults, &Expected::universe, 4)},
    {"TooLargeForIntKeepsValue", "DMX_START=200\nDMX_START=99999999999999999999\n",
     with(kDefaults, &Expected::dmx_start, 200)},
    {"FloatWordKeepsValue", "SCAL_MULT=2\nSCAL_MULT=abc\n", withMult(2.0f)},
    {"NoLineEndAtEnd", "LED_GPIO_PIN=17", with(kDefaults, &Expected::led, 17)},
    {"KeyPrefixOnly", "UNIVERSE\nSUBNET\n", kDefaults},
};

INSTANTIATE_TEST_SUITE_P(Cases, ConfigFileTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The optional inputs: absent or out of range they are off, as without the keys.
TEST(ConfigLoaderInputs, NetAndSacnUniverse)
{
    const struct {
        const char* file;
        int net, sacn;
    } cases[] = {
        {"", -1, 0},
        {"NET=0\n", 0, 0},
        {"NET=127\n", 127, 0},
        {"NET=128\n", -1, 0},
        {"NET=-1\n", -1, 0},
        {"NET=5\nNET=200\n", -1, 0},
        {"NET=5\nNET=five\n", 5, 0},
        {"SACN_UNIVERSE=1\n", -1, 1},
        {"SACN_UNIVERSE=63999\n", -1, 63999},
        {"SACN_UNIVERSE=64000\n", -1, 0},
        {"SACN_UNIVERSE=0\n", -1, 0},
        {" SACN_UNIVERSE = 7 # stage\r\n NET = 3\n", 3, 7},
        {"sacn_universe=7\n", -1, 0},
        // The new keys leave the old ones alone, and the other way round.
        {"SUBNET=2\nUNIVERSE=3\nNET=4\nSACN_UNIVERSE=9\n", 4, 9},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("config.txt", c.file);
        ScopedChdir in(dir.path());
        ConfigLoader config;
        EXPECT_EQ(config.getArtnetNet(), c.net) << c.file;
        EXPECT_EQ(config.getSacnUniverse(), c.sacn) << c.file;
        EXPECT_EQ(config.getNetworkInputSettings().artnet_net, c.net) << c.file;
    }
    TempDir dir;
    dir.write("config.txt", "SUBNET=2\nUNIVERSE=3\nNET=4\nSACN_UNIVERSE=9\n");
    ScopedChdir in(dir.path());
    ConfigLoader config;
    EXPECT_EQ(config.getArtnetSubnet(), 2);
    EXPECT_EQ(config.getArtnetUniverse(), 3);
}

TEST(ConfigLoaderInputs, TimecodeModeAndRate)
{
    using Settings = ConfigLoader::TimecodeSettings;
    const struct {
        const char* file;
        Settings::Mode mode;
        Timecode::Type type;
    } cases[] = {
        {"", Settings::Off, Timecode::Ebu25},
        {"TIMECODE = Master # rig clock\nTIMECODE_FPS=29.97\n", Settings::Master, Timecode::DropFrame2997},
        {"TIMECODE=master\nTIMECODE=sometimes\n", Settings::Master, Timecode::Ebu25},
        {"TIMECODE=chase\nTIMECODE_FPS=24\n", Settings::Chase, Timecode::Film24},
        {"TIMECODE_FPS=27\n", Settings::Off, Timecode::Ebu25},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("config.txt", c.file);
        const Settings settings = ConfigLoader(dir.file("config.txt")).getTimecodeSettings();
        EXPECT_EQ(settings.mode, c.mode) << c.file;
        EXPECT_EQ(settings.type, c.type) << c.file;
    }
}

TEST(ConfigLoaderCleanLine, DropsBlanksControlsAndHighBytesAndStopsAtHash)
{
    std::string line = " A=\t1\x7F\x80\xFF # B=2";
    ConfigLoader::cleanLine(line);
    EXPECT_EQ(line, "A=1");
}

} // namespace

namespace {

// Every receiver setting travels in the one settings struct the program
// hands to the receiver; a key read into a field of its own would leave the
// receiver on the default.
TEST(ConfigLoaderInputs, ReceiverSettingsCarryEveryReceiverKey)
{
    TempDir dir;
    dir.write("config.txt",
              "SUBNET=2\nUNIVERSE=3\nNET=4\nSACN_UNIVERSE=9\nDMX_START=41\nSCAL_MULT=2.5\nLED_GPIO_PIN=17\n");
    ConfigLoader config(dir.file("config.txt"));
    const Spectrafox::NetworkInputSettings& settings = config.getNetworkInputSettings();
    EXPECT_EQ(settings.artnet_subnet, 2);
    EXPECT_EQ(settings.artnet_universe, 3);
    EXPECT_EQ(settings.artnet_net, 4);
    EXPECT_EQ(settings.sacn_universe, 9);
    EXPECT_EQ(settings.dmx_start, 41);
    EXPECT_FLOAT_EQ(settings.scale_multiplier, 2.5f);
    EXPECT_EQ(settings.led_gpio_pin, 17);
}

// The manual's config table and the loader agree: each integer key takes
// both ends of its documented range, and one past the top gives the
// documented default.
TEST(ConfigLoaderReadme, IntegerRangesAndDefaultsMatchTheConfigTable)
{
    using Getter = int (ConfigLoader::*)() const;
    const struct {
        const char* key;
        Getter get;
        const char* prefix; // lines that make room for the value
        int off_value;      // the default of a key whose documented default says "absent"
    } keys[] = {
        {"SUBNET=", &ConfigLoader::getArtnetSubnet, "", 0},
        {"UNIVERSE=", &ConfigLoader::getArtnetUniverse, "", 0},
        {"ANZAHL=", &ConfigLoader::getLasersimNum, "DMX_START=1\n", 0},
        {"DMX_START=", &ConfigLoader::getLasersimDMXStart, "", 0},
        {"LED_GPIO_PIN=", &ConfigLoader::getLedGpioPin, "", 0},
        {"NET=", &ConfigLoader::getArtnetNet, "", -1},
        {"SACN_UNIVERSE=", &ConfigLoader::getSacnUniverse, "", 0},
        {"TIMECODE_FREEWHEEL=", &ConfigLoader::getTimecodeFreewheel, "", 0},
        {"TEXTURE_MEMORY_MB=", &ConfigLoader::getTextureMemoryMb, "", 0},
        {"HTTP_PORT=", &ConfigLoader::getHttpPort, "", 0},
        {"UPLOAD_MAX_MB=", &ConfigLoader::getUploadMaxMb, "", 0},
    };
    const std::string readme = Spectrafox::Test::readFile(std::string(SPECTRAFOX_SOURCE_DIR) + "/docs/operating.md");
    TempDir dir;
    const auto read = [&](const std::string& text, Getter get) {
        dir.write("config.txt", text);
        return (ConfigLoader(dir.file("config.txt")).*get)();
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        const std::string row_start = std::string("| `") + k.key + "` |";
        const std::size_t row = readme.find(row_start);
        ASSERT_NE(row, std::string::npos);
        const std::string line = readme.substr(row, readme.find('\n', row) - row);
        // | `KEY=` | what | lo-hi | default |
        std::vector<std::string> cells;
        for (std::size_t at = 1, next; (next = line.find('|', at)) != std::string::npos; at = next + 1)
            cells.push_back(line.substr(at, next - at));
        ASSERT_EQ(cells.size(), 4u) << line;
        int lo = 0, hi = 0;
        ASSERT_EQ(std::sscanf(cells[2].c_str(), " %d-%d", &lo, &hi), 2) << line;
        int fallback = k.off_value;
        if (cells[3].find("absent") == std::string::npos) {
            ASSERT_EQ(std::sscanf(cells[3].c_str(), " %d", &fallback), 1) << line;
        }

        EXPECT_EQ(read("", k.get), fallback);
        EXPECT_EQ(read(k.prefix + std::string(k.key) + std::to_string(lo) + "\n", k.get), lo);
        EXPECT_EQ(read(k.prefix + std::string(k.key) + std::to_string(hi) + "\n", k.get), hi);
        EXPECT_EQ(read(k.prefix + std::string(k.key) + std::to_string(hi + 1) + "\n", k.get), fallback);
    }
}

// The read-only page lists the settings in force: never the admin token.
TEST(ConfigLoaderInputs, AdminTokenIsReadButNeverListed)
{
    TempDir dir;
    dir.write("config.txt", "HTTP_PORT=80\nHTTP_ADMIN_TOKEN=our-rig-secret-2026\n");
    const ConfigLoader config(dir.file("config.txt"));
    EXPECT_EQ(config.getHttpAdminToken(), "our-rig-secret-2026");
    for (const auto& [key, value] : config.settingsInForce())
        EXPECT_EQ(value.find("our-rig-secret"), std::string::npos) << key;
}

} // namespace

// WARP's corners are separated by spaces, which every other key's line
// loses; a refused geometry key is named and keeps its default.
TEST(ConfigLoaderGeometry, KeysReadAsWrittenAndRefusalsNamed)
{
    TempDir dir;
    dir.write("config.txt", "ANZAHL=3\nWARP = 0.1,0 1,0 1,1 0,1   # keystone\nBLEND_RIGHT=0.7\nSUBNET=2\n");
    const ConfigLoader config(dir.file("config.txt"));
    EXPECT_EQ(config.getGeometry().warp[0].x, 0.1);
    EXPECT_EQ(config.getGeometry().blend.right, 0.0);
    ASSERT_EQ(config.geometryRefusals().size(), 1u);
    EXPECT_EQ(config.geometryRefusals()[0].rfind("BLEND_RIGHT=", 0), 0u);
    EXPECT_EQ(config.getLasersimNum(), 3);
    EXPECT_EQ(config.getArtnetSubnet(), 2);
}

// settings.txt, beside config.txt, is read after it: what the desk set wins,
// a label keeps its spaces, config.txt's Port-Address stays the one
// ArtAddress goes back to, and a corrupt line is skipped like config.txt's.
TEST(ConfigLoaderSettings, SettingsTxtWinsOverConfigTxtLineByLine)
{
    struct Case {
        const char* name;
        const char* settings; // nullptr: no settings.txt
        int dmx_start, universe;
        const char* label;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"none", nullptr, 200, 5, "", {}},
        {"desk's values", "DMX_START=41\nDEVICE_LABEL= Stage left = front \r\nUNIVERSE=3\n", 41, 3,
         " Stage left = front ", {"DMX_START=", "DEVICE_LABEL=", "UNIVERSE="}},
        {"cut by a power cut", "DMX_START=41\nUNIVER", 41, 5, "", {"DMX_START="}},
        {"garbage", "\x01\xfe\xff\nDMX_START=abc\nlower=1\nDEVICE_LABEL=a\tb\n", 200, 5, "", {"DMX_START="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("config.txt", "UNIVERSE=5\nDMX_START=200\nRDM=1\n");
        if (c.settings)
            dir.write("settings.txt", c.settings);
        const ConfigLoader config(dir.file("config.txt"));
        EXPECT_EQ(config.getLasersimDMXStart(), c.dmx_start);
        EXPECT_EQ(config.getArtnetUniverse(), c.universe);
        const Spectrafox::NetworkInputSettings::Remote& remote = config.getNetworkInputSettings().remote;
        EXPECT_TRUE(remote.rdm);
        EXPECT_EQ(remote.device_label, c.label);
        EXPECT_EQ(remote.physical_universe, 5);
        EXPECT_EQ(config.keysFromSettings(), c.keys);
    }
}
