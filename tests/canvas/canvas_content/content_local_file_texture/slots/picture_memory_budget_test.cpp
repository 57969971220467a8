// Admission depends on what earlier pictures keep, not on how far their
// decoding has come; a picture that fits waits for their buffers to be freed;
// everything comes back when the reservations end.
#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Spectrafox;

namespace {

TEST(PictureMemoryBudgetTest, AdmitsOnWhatIsKeptWaitsForBuffersAndGivesAllBack)
{
    PictureMemoryBudget budget(100);
    PictureMemoryBudget::Reservation first, second, refused;
    ASSERT_TRUE(budget.admit(60, 20, &first));
    EXPECT_FALSE(budget.admit(90, 10, &refused)); // 20 kept + 90 is over
    EXPECT_FALSE(budget.admit(101, 0, &refused));
    EXPECT_EQ(refused.bytes(), 0u);

    // 20 kept + 70 fits, but only once the first picture's buffers are freed.
    std::thread uploader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        first.settle();
    });
    ASSERT_TRUE(budget.admit(70, 30, &second));
    uploader.join();
    EXPECT_EQ(budget.inUse(), 90u);
    second.settle();
    EXPECT_EQ(budget.inUse(), 50u);
    first = PictureMemoryBudget::Reservation();
    second = PictureMemoryBudget::Reservation();
    EXPECT_EQ(budget.inUse(), 0u);
    PictureMemoryBudget::Reservation whole;
    EXPECT_TRUE(budget.admit(100, 100, &whole)); // nothing kept is left behind
}

} // namespace
