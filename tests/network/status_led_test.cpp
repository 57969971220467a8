#include "network/status_led.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

using Spectrafox::StatusLed;
using Spectrafox::Test::readFile;
using Spectrafox::Test::TempDir;

namespace {

// A stand-in for /sys/class/gpio: the control files exist, as does the pin's
// directory that the kernel would create on export.
struct FakeGpioTree {
    explicit FakeGpioTree(int pin)
    {
        dir.write("export", "");
        dir.write("unexport", "");
        dir.write(pinPath(pin, "direction"), "in");
        dir.write(pinPath(pin, "value"), "");
    }
    static std::string pinPath(int pin, const char* name)
    {
        return "gpio" + std::to_string(pin) + "/" + name;
    }
    std::string read(const std::string& name) const { return readFile(dir.file(name)); }
    TempDir dir;
};

TEST(StatusLed, LightsTogglesFromTheThirdPacketAndReleases)
{
    FakeGpioTree gpio(17);
    StatusLed led(17, true, gpio.dir.path());
    led.init();
    EXPECT_EQ(gpio.read("export"), "17");
    EXPECT_EQ(gpio.read("gpio17/direction"), "out");
    led.set(1);
    EXPECT_EQ(gpio.read("gpio17/value"), "1");

    // Value file after each recognised packet.
    const char* expected[] = {"1", "1", "0", "1", "0", "1"};
    for (const char* level : expected) {
        led.countPacket();
        EXPECT_EQ(gpio.read("gpio17/value"), level);
        EXPECT_EQ(led.status(), std::string(level) == "1" ? 1 : 0);
    }

    led.set(0);
    led.release();
    EXPECT_EQ(gpio.read("gpio17/value"), "0");
    EXPECT_EQ(gpio.read("unexport"), "17");
}

TEST(StatusLed, PinZeroIsAValidPin)
{
    FakeGpioTree gpio(0);
    StatusLed led(0, true, gpio.dir.path());
    led.init();
    led.set(1);
    EXPECT_EQ(gpio.read("export"), "0");
    EXPECT_EQ(gpio.read("gpio0/direction"), "out");
    EXPECT_EQ(gpio.read("gpio0/value"), "1");
}

TEST(StatusLed, SetTakesAnyPositiveValueAsOn)
{
    FakeGpioTree gpio(4);
    StatusLed led(4, true, gpio.dir.path());
    // "-": the level did not change, so the file was not written again.
    const std::pair<int, const char*> cases[] = {{5, "1"}, {0, "0"}, {-3, "-"}, {1, "1"}, {7, "-"}};
    for (const auto& [value, level] : cases) {
        gpio.dir.write("gpio4/value", "-");
        led.set(value);
        EXPECT_EQ(gpio.read("gpio4/value"), level) << value;
    }
}

TEST(StatusLed, DisabledWithoutRootOrPin)
{
    struct Case {
        int pin;
        bool root;
    };
    for (const Case c : {Case{17, false}, Case{-1, true}, Case{-1, false}}) {
        FakeGpioTree gpio(17);
        StatusLed led(c.pin, c.root, gpio.dir.path());
        led.init();
        led.set(1);
        for (int i = 0; i < 5; ++i)
            led.countPacket();
        led.set(0);
        led.release();
        EXPECT_EQ(led.status(), 0);
        EXPECT_EQ(gpio.read("export"), "");
        EXPECT_EQ(gpio.read("unexport"), "");
        EXPECT_EQ(gpio.read("gpio17/direction"), "in");
        EXPECT_EQ(gpio.read("gpio17/value"), "");
    }
}

TEST(StatusLed, MissingFilesAreSkippedNeverCreated)
{
    TempDir empty;
    StatusLed led(17, true, empty.path());
    led.init();
    led.set(1);
    led.countPacket();
    led.release();
    EXPECT_EQ(led.status(), 1); // the level is remembered even if no file took it
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
}

// Trees as current and older kernels lay out /sys/class/gpio: chip
// directories with a label and a base, and the pin directory export creates
// (made here up front, since nothing plays the kernel).
struct ChipTreeCase {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files; // path, content
    int pin;
    std::string exported; // what export must receive
    bool reported;        // a failure line was given
};

class StatusLedChipBase : public ::testing::TestWithParam<ChipTreeCase> {};

TEST_P(StatusLedChipBase, ExportsTheGlobalNumberAndReportsFailureOnce)
{
    const ChipTreeCase& c = GetParam();
    TempDir gpio;
    for (const auto& [path, content] : c.files)
        gpio.write(path, content);
    std::vector<std::string> reports;
    StatusLed led(c.pin, true, gpio.path(), [&](const std::string& m) { reports.push_back(m); });
    led.init();
    led.set(1);
    for (int i = 0; i < 4; ++i)
        led.countPacket();
    led.release();

    EXPECT_EQ(readFile(gpio.file("export")), c.exported);
    ASSERT_EQ(reports.size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_NE(reports[0].find("GPIO " + std::to_string(c.pin)), std::string::npos) << reports[0];
        return;
    }
    const std::string pin_dir = "gpio" + c.exported + "/";
    EXPECT_EQ(readFile(gpio.file(pin_dir + "direction")), "out");
    EXPECT_EQ(readFile(gpio.file(pin_dir + "value")), "1");
    EXPECT_EQ(readFile(gpio.file("unexport")), c.exported);
}

using Files = std::vector<std::pair<std::string, std::string>>;
const Files kControl = {{"export", ""}, {"unexport", ""}};

Files with(Files more)
{
    Files all = kControl;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, StatusLedChipBase,
    ::testing::Values(
        ChipTreeCase{"OlderKernelBaseZero",
                     with({{"gpiochip0/label", "pinctrl-bcm2835\n"}, {"gpiochip0/base", "0\n"},
                           {"gpio17/direction", "in"}, {"gpio17/value", ""}}),
                     17, "17", false},
        ChipTreeCase{"CurrentKernelBase512",
                     with({{"gpiochip512/label", "pinctrl-bcm2711\n"}, {"gpiochip512/base", "512\n"},
                           {"gpio529/direction", "in"}, {"gpio529/value", ""}}),
                     17, "529", false},
        ChipTreeCase{"TwoChipsThePinControllerWins",
                     with({{"gpiochip504/label", "raspberrypi-exp-gpio\n"}, {"gpiochip504/base", "504\n"},
                           {"gpiochip512/label", "pinctrl-bcm2711\n"}, {"gpiochip512/base", "512\n"},
                           {"gpio530/direction", "in"}, {"gpio530/value", ""}}),
                     18, "530", false},
        ChipTreeCase{"Pi5HeaderChipBeforeTheSoc",
                     with({{"gpiochip512/label", "pinctrl-bcm2712\n"}, {"gpiochip512/base", "512\n"},
                           {"gpiochip571/label", "pinctrl-rp1\n"}, {"gpiochip571/base", "571\n"},
                           {"gpio575/direction", "in"}, {"gpio575/value", ""}}),
                     4, "575", false},
        ChipTreeCase{"MissingLabelFallsBackToBaseZero",
                     with({{"gpiochip512/base", "512\n"}, {"gpio17/direction", "in"}, {"gpio17/value", ""}}),
                     17, "17", false},
        ChipTreeCase{"UnreadableBaseIsSkipped",
                     with({{"gpiochip512/label", "pinctrl-bcm2711\n"}, {"gpiochip512/base", "x\n"},
                           {"gpio17/direction", "in"}, {"gpio17/value", ""}}),
                     17, "17", false},
        ChipTreeCase{"ExportRefusedIsReportedOnce",
                     with({{"gpiochip512/label", "pinctrl-bcm2711\n"}, {"gpiochip512/base", "512\n"}}),
                     17, "529", true}),
    [](const ::testing::TestParamInfo<ChipTreeCase>& info) { return info.param.name; });

TEST(StatusLed, ExportThatCannotBeWrittenIsReportedWithItsReason)
{
    TempDir gpio; // no export file at all
    std::vector<std::string> reports;
    StatusLed led(5, true, gpio.path(), [&](const std::string& m) { reports.push_back(m); });
    led.init();
    led.set(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("No such file"), std::string::npos) << reports[0];
}

} // namespace
