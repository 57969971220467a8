#include "status_led.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    const std::pair<int, const char*> cases[] = {{5, "1"}, {0, "0"}, {-3, "0"}, {1, "1"}};
    for (const auto& [value, level] : cases) {
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

} // namespace
