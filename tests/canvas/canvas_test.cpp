#include "canvas/canvas.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using Spectrafox::Canvas;

namespace {

TEST(CanvasTest, StartsWithTheDocumentedValues)
{
    Canvas canvas("CONTENT_TEXTURE_256");
    EXPECT_EQ(canvas.getContentType(), "CONTENT_TEXTURE_256");
    EXPECT_EQ(canvas.getContentData(), 0);
    EXPECT_EQ(canvas.getScalingX(), 1.0f);
    EXPECT_EQ(canvas.getScalingY(), 1.0f);
    EXPECT_EQ(canvas.getNumber(), 0u);
    EXPECT_EQ(canvas.getAlpha(), 1.0f);
    EXPECT_EQ(canvas.getR(), 1.0f);
    EXPECT_EQ(canvas.getShutterState(), 0);
}

TEST(CanvasTest, AngleWrapping)
{
    const struct {
        float in, out;
    } cases[] = {{360.0f, 0.0f}, {-360.0f, 0.0f}, {720.5f, 0.5f}, {-0.5f, 359.5f},
                 {0.0f, 0.0f},   {359.0f, 359.0f}, {-90.0f, 270.0f}, {1080.0f, 0.0f}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(Canvas::correctAngleRange(c.in), c.out) << c.in;
}

TEST(CanvasTest, AngleWrappingNeverHangsOnExtremeValues)
{
    const float extremes[] = {std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(), 3.0e38f, -3.0e38f};
    for (float value : extremes) {
        const float wrapped = Canvas::correctAngleRange(value);
        EXPECT_GE(wrapped, 0.0f) << value;
        EXPECT_LT(wrapped, 360.0f) << value;
    }
}

TEST(CanvasTest, SettersClampAndWrap)
{
    Canvas canvas("X");
    canvas.setRotation(-90.0f);
    EXPECT_FLOAT_EQ(canvas.getRotation(), 270.0f);
    canvas.setRotationAll(370.0f);
    EXPECT_FLOAT_EQ(canvas.getRotationAll(), 10.0f);
    canvas.setR(1.5f);
    EXPECT_EQ(canvas.getR(), 1.0f);
    canvas.setAlpha(-0.2f);
    EXPECT_EQ(canvas.getAlpha(), 0.0f);
    canvas.setG(0.25f);
    EXPECT_EQ(canvas.getG(), 0.25f);
    canvas.setB(2.0f);
    EXPECT_EQ(canvas.getB(), 1.0f);
    canvas.setScalingY(-1.0f);
    EXPECT_EQ(canvas.getScalingY(), -1.0f);
}

TEST(CanvasTest, RotationAdvancesAndWrapsEachFrame)
{
    Canvas canvas("X");
    canvas.setRotation(355.0f);
    canvas.setSpeed(10.0f);
    canvas.setRotationAll(5.0f);
    canvas.setSpeedAll(-10.0f);
    canvas.frameStep();
    EXPECT_FLOAT_EQ(canvas.getRotation(), 5.0f);
    EXPECT_FLOAT_EQ(canvas.getRotationAll(), 355.0f);
}

// Runs frame steps and returns the shutter state after each one.
std::vector<int> shutterStates(int speed, int frames)
{
    Canvas canvas("X");
    canvas.setShutterSpeed(speed);
    std::vector<int> states;
    for (int i = 0; i < frames; ++i) {
        canvas.frameStep();
        states.push_back(canvas.getShutterState());
    }
    return states;
}

TEST(CanvasTest, ShutterAtFullSpeedFlipsEverySecondFrame)
{
    EXPECT_EQ(shutterStates(255, 6), (std::vector<int>{0, 1, 1, 0, 0, 1}));
}

TEST(CanvasTest, ShutterAtSlowestSpeedHoldsSixtyFiveFrames)
{
    const std::vector<int> states = shutterStates(1, 130);
    for (int frame = 1; frame <= 130; ++frame) {
        const int expected = (frame >= 65 && frame < 130) ? 1 : 0;
        ASSERT_EQ(states[frame - 1], expected) << "after frame step " << frame;
    }
}

TEST(CanvasTest, ShutterSpeedZeroReportsOpenAndPausesTheCount)
{
    Canvas canvas("X");
    canvas.setShutterSpeed(255);
    canvas.frameStep();
    canvas.frameStep(); // closed now
    ASSERT_EQ(canvas.getShutterState(), 1);
    canvas.setShutterSpeed(0);
    EXPECT_EQ(canvas.getShutterState(), 0);
    for (int i = 0; i < 10; ++i)
        canvas.frameStep();
    canvas.setShutterSpeed(255); // resumes where it stopped
    EXPECT_EQ(canvas.getShutterState(), 1);
    canvas.setShutterSpeed(-5);
    EXPECT_EQ(canvas.getShutterState(), 0);
}

// One thread writes through the setters while another steps and reads, as the
// Art-Net and render threads do. Under ThreadSanitizer this must stay silent;
// everywhere the values read must be ones that were written.
TEST(CanvasTest, ConcurrentSettersAndFrameStepsSeeWholeValues)
{
    Canvas canvas("X");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            const float v = (i % 2) ? 0.25f : 0.75f;
            canvas.setAlpha(v);
            canvas.setPositionX(v);
            canvas.setRotation(static_cast<float>(i % 360));
            canvas.setSpeed(v);
            canvas.setShutterSpeed(i % 256);
            canvas.setNumber(static_cast<unsigned>(i % 64));
        }
        done = true;
    });
    int frames = 0;
    while (!done || frames < 1000) {
        canvas.frameStep();
        const float alpha = canvas.getAlpha();
        ASSERT_TRUE(alpha == 1.0f || alpha == 0.25f || alpha == 0.75f) << alpha;
        const float rotation = canvas.getRotation();
        ASSERT_GE(rotation, 0.0f);
        ASSERT_LT(rotation, 360.0f);
        ASSERT_LT(canvas.getNumber(), 64u);
        ++frames;
    }
    writer.join();
}

} // namespace
