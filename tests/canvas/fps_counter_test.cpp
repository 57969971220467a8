#include "canvas/fps_counter.h"

#include <gtest/gtest.h>

#include <cmath>

using Spectrafox::FPS_Counter;

namespace {

TEST(FpsCounterTest, BeforeTheFirstTickTheRateIsInfinite)
{
    FPS_Counter counter;
    EXPECT_TRUE(std::isinf(counter.getFPS()));
    EXPECT_GT(counter.getFPS(), 0.0f);
}

TEST(FpsCounterTest, TenTicksTwentyMillisecondsApartGiveFifty)
{
    FPS_Counter counter;
    counter.tickAt(100, 0); // the delay from construction is pushed out below
    for (int i = 1; i <= 10; ++i)
        counter.tickAt(100, i * 20000);
    EXPECT_NEAR(counter.getFPS(), 50.0f, 1e-3f);
}

TEST(FpsCounterTest, TickAcrossASecondBoundaryBorrowsMicroseconds)
{
    FPS_Counter counter;
    counter.tickAt(7, 900000);
    for (int i = 0; i < 9; ++i)
        counter.tickAt(7, 900000); // nine zero delays
    counter.tickAt(8, 100000);     // 1 + (-800000 / 1e6) = 0.2 s
    EXPECT_NEAR(counter.getFPS(), 1.0f / 0.02f, 1e-3f);
}

TEST(FpsCounterTest, RealClockGivesAPlausibleRate)
{
    FPS_Counter counter;
    counter.tick();
    EXPECT_GT(counter.getFPS(), 0.0f);
}

} // namespace
