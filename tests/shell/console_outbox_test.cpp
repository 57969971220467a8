#include "shell/console_outbox.h"

#include <gtest/gtest.h>

using Spectrafox::ConsoleOutbox;
using namespace std::chrono_literals;

namespace {

// A terminal that takes nothing for hours: the box stays bounded, the lines
// that made it keep their order, and only the latest frame rate is kept.
TEST(ConsoleOutboxTest, ATerminalThatTakesNothingCostsBoundedMemory)
{
    ConsoleOutbox box(4);
    for (int i = 0; i < 100000; ++i) {
        box.post(ConsoleOutbox::Kind::Text, "line " + std::to_string(i));
        box.postFrameRate(i);
    }
    const ConsoleOutbox::Batch batch = box.take(0ms);
    ASSERT_EQ(batch.entries.size(), 4u);
    EXPECT_EQ(batch.entries[0].text, "line 0");
    EXPECT_EQ(batch.entries[3].text, "line 3");
    EXPECT_TRUE(batch.has_frame_rate);
    EXPECT_EQ(batch.frame_rate, 99999.0);
    EXPECT_EQ(box.droppedLines(), 100000u - 4u);

    // Taken once, gone; a closed box takes nothing more and says so.
    EXPECT_TRUE(box.take(0ms).entries.empty());
    box.close();
    EXPECT_FALSE(box.post(ConsoleOutbox::Kind::Notice, "late"));
    EXPECT_TRUE(box.take(1000ms).closed);
}

} // namespace
