#include "network/dmx_channel_map.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "canvas/canvas.h"

using Spectrafox::Canvas;
using Spectrafox::DmxChannelMap;
using Spectrafox::Artnet::DmxUniverse;

namespace {

constexpr float kWide = 16.0f / 9.0f;
constexpr int kStart = 100;

// On the heap, so that a read past channel 512 lands in a sanitizer red zone.
std::unique_ptr<DmxUniverse> emptyUniverse()
{
    auto dmx = std::make_unique<DmxUniverse>();
    dmx->fill(0);
    return dmx;
}

// Channel k (from 1) of the block of canvas i.
void setBlockChannel(DmxUniverse& dmx, int start, int canvas, int k, uint8_t value)
{
    dmx[static_cast<std::size_t>(start + 20 * canvas + k - 2)] = value;
}

// The speed a canvas got, seen through one animation step from angle 0.
float observedSpeed(Canvas& canvas)
{
    canvas.setRotation(0.0f);
    canvas.frameStep();
    return canvas.getRotation();
}

float observedCircleSpeed(Canvas& canvas)
{
    canvas.setRotationAll(0.0f);
    canvas.frameStep();
    return canvas.getRotationAll();
}

TEST(DmxChannelMap, SpeedChannelWorkedValues)
{
    const std::pair<int, float> cases[] = {
        {0, 10.4644775390625f},   {1, 10.382080078125f}, {100, 0.4449462890625f},
        {119, 0.0439453125f},     {120, 0.0f},           {126, 0.0f},
        {128, 0.0f},              {134, 0.0f},           {135, 359.9560546875f},
        {200, 356.3909912109375f}, {255, 348.75f}};
    for (const auto& [value, speed] : cases)
        EXPECT_EQ(DmxChannelMap::speedForChannel(static_cast<uint8_t>(value)), speed) << value;
}

TEST(DmxChannelMap, AngleChannelWorkedValues)
{
    EXPECT_EQ(DmxChannelMap::angleForChannel(1), -1.40625f);
    EXPECT_EQ(DmxChannelMap::angleForChannel(64), -90.0f);
    EXPECT_EQ(DmxChannelMap::angleForChannel(128), -180.0f);
    EXPECT_EQ(DmxChannelMap::angleForChannel(255), -358.59375f);
}

struct ChannelCase {
    std::string name;
    std::vector<std::pair<int, uint8_t>> block; // block channel -> value; the rest 0
    float mult;
    float ratio;
    std::function<float(Canvas&)> read;
    float expected;
};

class DmxChannelTable : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(DmxChannelTable, SetsTheCanvas)
{
    const ChannelCase& c = GetParam();
    auto dmx = emptyUniverse();
    for (const auto& [k, value] : c.block)
        setBlockChannel(*dmx, kStart, 0, k, value);
    Canvas canvas("CONTENT_TEXTURE_256");
    DmxChannelMap(kStart, c.mult).apply(*dmx, {&canvas}, c.ratio);
    EXPECT_FLOAT_EQ(c.read(canvas), c.expected);
}

float content(Canvas& c) { return static_cast<float>(c.getContentData()); }
float alpha(Canvas& c) { return c.getAlpha(); }
float posX(Canvas& c) { return c.getPositionX(); }
float posY(Canvas& c) { return c.getPositionY(); }
float scaleX(Canvas& c) { return c.getScalingX(); }
float scaleY(Canvas& c) { return c.getScalingY(); }
float copies(Canvas& c) { return static_cast<float>(c.getNumber()); }
float zoom(Canvas& c) { return c.getZoom(); }
float red(Canvas& c) { return c.getR(); }
float green(Canvas& c) { return c.getG(); }
float blue(Canvas& c) { return c.getB(); }
float angle(Canvas& c) { return c.getRotation(); }
float circleAngle(Canvas& c) { return c.getRotationAll(); }
float speed(Canvas& c) { return observedSpeed(c); }
float circleSpeed(Canvas& c) { return observedCircleSpeed(c); }
// A shutter at full speed closes after two frames; at 0 it never does.
float shutterAfterTwoFrames(Canvas& c)
{
    c.frameStep();
    c.frameStep();
    return static_cast<float>(c.getShutterState());
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, DmxChannelTable,
    ::testing::Values(
        ChannelCase{"Content", {{1, 200}}, 1, kWide, content, 200},
        ChannelCase{"AlphaFull", {{2, 255}}, 1, kWide, alpha, 1.0f},
        ChannelCase{"AlphaFifth", {{2, 51}}, 1, kWide, alpha, 0.2f},
        ChannelCase{"PositionXLeft", {{3, 0}}, 1, kWide, posX, -1.0f},
        ChannelCase{"PositionXCentre", {{3, 128}}, 1, kWide, posX, 0.0f},
        ChannelCase{"PositionXRight", {{3, 255}}, 1, kWide, posX, 0.9921875f},
        ChannelCase{"PositionXMultiplied", {{3, 0}}, 2, kWide, posX, -2.0f},
        ChannelCase{"PositionYTopByRatio", {{4, 0}}, 1, kWide, posY, -0.5625f},
        ChannelCase{"PositionYMultiplied", {{4, 255}}, 2, kWide, posY, 0.9921875f * 2 * 0.5625f},
        ChannelCase{"ScalingXFull", {{5, 255}}, 1, kWide, scaleX, 1.0f},
        ChannelCase{"ScalingXMultiplied", {{5, 255}}, 2, kWide, scaleX, 2.0f},
        ChannelCase{"ScalingYByRatio", {{6, 255}}, 1, kWide, scaleY, 0.5625f},
        ChannelCase{"ScalingYIgnoresMultiplier", {{6, 255}}, 3, kWide, scaleY, 0.5625f},
        ChannelCase{"ScalingYZeroFollowsContent", {{6, 0}}, 1, kWide, scaleY, -1.0f},
        ChannelCase{"CopiesThree", {{8, 3}}, 1, kWide, copies, 0},
        ChannelCase{"CopiesFour", {{8, 4}}, 1, kWide, copies, 1},
        ChannelCase{"CopiesMax", {{8, 255}}, 1, kWide, copies, 63},
        ChannelCase{"ZoomMultiplied", {{10, 255}}, 2, kWide, zoom, 2.0f},
        ChannelCase{"Red", {{11, 255}}, 1, kWide, red, 1.0f},
        ChannelCase{"Green", {{12, 255}}, 1, kWide, green, 1.0f},
        ChannelCase{"Blue", {{13, 255}}, 1, kWide, blue, 1.0f},
        ChannelCase{"GreenAloneLeavesBlueDark", {{12, 255}}, 1, kWide, blue, 0.0f},
        ChannelCase{"Angle64", {{7, 64}}, 1, kWide, angle, 270.0f},
        ChannelCase{"Angle128", {{7, 128}}, 1, kWide, angle, 180.0f},
        ChannelCase{"AngleOverridesSpeed", {{7, 64}, {16, 0}}, 1, kWide, speed, 0.0f},
        ChannelCase{"CircleAngle64", {{9, 64}}, 1, kWide, circleAngle, 270.0f},
        ChannelCase{"CircleAngleOverridesSpeed", {{9, 1}, {17, 255}}, 1, kWide, circleSpeed, 0.0f},
        ChannelCase{"SpeedChannel255", {{16, 255}}, 1, kWide, speed, 348.75f},
        ChannelCase{"SpeedChannel200", {{16, 200}}, 1, kWide, speed, 356.3909912109375f},
        ChannelCase{"CircleSpeed135", {{17, 135}}, 1, kWide, circleSpeed, 359.9560546875f},
        ChannelCase{"CircleSpeed119", {{17, 119}}, 1, kWide, circleSpeed, 0.0439453125f},
        ChannelCase{"ShutterOnChannel15", {{15, 255}}, 1, kWide, shutterAfterTwoFrames, 1},
        ChannelCase{"ChannelFourteenIsNoShutter", {{14, 255}}, 1, kWide, shutterAfterTwoFrames, 0}),
    [](const ::testing::TestParamInfo<ChannelCase>& info) { return info.param.name; });

TEST(DmxChannelMap, AllChannelsZeroIsADesksDefault)
{
    auto dmx = emptyUniverse();
    Canvas canvas("CONTENT_TEXTURE_256");
    DmxChannelMap(kStart, 1.5f).apply(*dmx, {&canvas}, kWide);
    EXPECT_EQ(canvas.getContentData(), 0);
    EXPECT_EQ(canvas.getAlpha(), 0.0f);
    EXPECT_FLOAT_EQ(canvas.getPositionX(), -1.5f);
    EXPECT_FLOAT_EQ(canvas.getPositionY(), -1.5f / kWide);
    EXPECT_EQ(canvas.getScalingX(), 0.0f);
    EXPECT_EQ(canvas.getScalingY(), -1.0f);
    EXPECT_EQ(canvas.getNumber(), 0u);
    EXPECT_EQ(canvas.getZoom(), 0.0f);
    EXPECT_EQ(canvas.getR(), 0.0f);
    EXPECT_EQ(canvas.getG(), 0.0f);
    EXPECT_EQ(canvas.getB(), 0.0f);
    // 0 on a speed channel is full speed, not a stop.
    canvas.frameStep();
    EXPECT_EQ(canvas.getRotation(), 10.4644775390625f);
    EXPECT_EQ(canvas.getRotationAll(), 10.4644775390625f);
    canvas.frameStep();
    EXPECT_EQ(canvas.getShutterState(), 0);
}

// Speed channel, then the angle that a few animation steps leave.
TEST(DmxChannelMap, RotationRulesOverSuccessivePackets)
{
    struct Step {
        uint8_t angle_channel, speed_channel;
        float angle_after_packet;
        float angle_after_two_frames;
    };
    const Step steps[] = {
        {0, 135, 0.0f, 359.912109375f},         // turning
        {64, 135, 270.0f, 270.0f},               // fixed angle wins, speed ignored
        {0, 126, 270.0f, 270.0f},                // band: stays at that angle
        {0, 128, 270.0f, 270.0f},
        {0, 255, 270.0f, 270.0f - 22.5f},        // outside the band: turns on from there
        {0, 127, 0.0f, 0.0f},                    // 127 parks the canvas at 0
        {128, 127, 180.0f, 180.0f},
        {0, 0, 180.0f, 180.0f + 2 * 10.4644775390625f},
    };
    auto dmx = emptyUniverse();
    Canvas canvas("CONTENT_TEXTURE_256");
    const DmxChannelMap map(kStart, 1.0f);
    for (const Step& s : steps) {
        for (int k : {7, 9})
            setBlockChannel(*dmx, kStart, 0, k, s.angle_channel);
        for (int k : {16, 17})
            setBlockChannel(*dmx, kStart, 0, k, s.speed_channel);
        map.apply(*dmx, {&canvas}, kWide);
        EXPECT_FLOAT_EQ(canvas.getRotation(), s.angle_after_packet) << int(s.speed_channel);
        EXPECT_FLOAT_EQ(canvas.getRotationAll(), s.angle_after_packet) << int(s.speed_channel);
        canvas.frameStep();
        canvas.frameStep();
        EXPECT_FLOAT_EQ(canvas.getRotation(), s.angle_after_two_frames) << int(s.speed_channel);
        EXPECT_FLOAT_EQ(canvas.getRotationAll(), s.angle_after_two_frames) << int(s.speed_channel);
    }
}

TEST(DmxChannelMap, BlocksFollowOneAnotherFromTheStartAddress)
{
    auto dmx = emptyUniverse();
    (*dmx)[100 - 1] = 7;  // canvas 0, block channel 1
    (*dmx)[119 - 1] = 99; // canvas 0, block channel 20: spare
    (*dmx)[120 - 1] = 8;  // canvas 1, block channel 1
    (*dmx)[140 - 1] = 9;  // canvas 2, block channel 1
    Canvas a("T"), b("T"), c("T");
    DmxChannelMap(100, 1.0f).apply(*dmx, {&a, &b, &c}, kWide);
    EXPECT_EQ(a.getContentData(), 7);
    EXPECT_EQ(b.getContentData(), 8);
    EXPECT_EQ(c.getContentData(), 9);
}

TEST(DmxChannelMap, LastBlockOfTheUniverse)
{
    auto dmx = emptyUniverse();
    for (int channel = 490; channel <= 512; ++channel)
        (*dmx)[channel - 1] = 255;
    (*dmx)[490 - 1] = 42;  // block channel 1
    Canvas canvas("T");
    DmxChannelMap(490, 1.0f).apply(*dmx, {&canvas}, kWide);
    EXPECT_EQ(canvas.getContentData(), 42);
    EXPECT_EQ(canvas.getNumber(), 63u);
    EXPECT_EQ(canvas.getAlpha(), 1.0f);
}

TEST(DmxChannelMap, GroupLargerThanTheUniverseNeverReadsPastChannel512)
{
    auto dmx = emptyUniverse();
    dmx->fill(255);
    std::vector<std::unique_ptr<Canvas>> owned;
    std::vector<Canvas*> group;
    for (int i = 0; i < 25; ++i) {
        owned.push_back(std::make_unique<Canvas>("T"));
        group.push_back(owned.back().get());
    }
    DmxChannelMap(kStart, 1.0f).apply(*dmx, group, kWide);
    // Canvas 19 reads channels 480 to 496; canvas 20 would need 500 to 516.
    EXPECT_EQ(group[19]->getContentData(), 255);
    for (int i = 20; i < 25; ++i) {
        EXPECT_EQ(group[i]->getContentData(), 0) << i;
        EXPECT_EQ(group[i]->getScalingY(), 1.0f) << i; // untouched initial value
    }
}

TEST(DmxChannelMap, StartAddressOutsideTheUniverseTouchesNothing)
{
    auto dmx = emptyUniverse();
    dmx->fill(255);
    for (int start : {0, -19, 497, 100000}) {
        Canvas canvas("T");
        DmxChannelMap(start, 1.0f).apply(*dmx, {&canvas}, kWide);
        EXPECT_EQ(canvas.getContentData(), 0) << start;
        EXPECT_EQ(canvas.getAlpha(), 1.0f) << start;
    }
}

} // namespace
