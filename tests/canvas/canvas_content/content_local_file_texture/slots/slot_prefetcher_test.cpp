#include "canvas/canvas_content/content_local_file_texture/slots/slot_prefetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

using Spectrafox::SlotPicture;
using Spectrafox::SlotPrefetcher;

namespace {

struct DecodeLog {
    std::mutex mutex;
    std::multiset<int> decoded;
    std::atomic<int> taken{0};
    std::atomic<int> worst_lead{0};
};

SlotPrefetcher::Decoder recordingDecoder(DecodeLog& log)
{
    return [&log](int slot) {
        const int lead = slot - log.taken.load();
        int worst = log.worst_lead.load();
        while (lead > worst && !log.worst_lead.compare_exchange_weak(worst, lead)) {
        }
        {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.decoded.insert(slot);
        }
        SlotPicture picture;
        picture.kind = SlotPicture::Kind::Missing;
        picture.width = slot; // marks which slot this picture came from
        return picture;
    };
}

TEST(SlotPrefetcherTest, HandsOutEverySlotInOrderDecodedOnceAndBoundedAhead)
{
    const struct {
        int workers, ahead;
    } cases[] = {{0, 4}, {1, 1}, {2, 4}, {4, 2}, {3, 16}};
    for (const auto& c : cases) {
        DecodeLog log;
        constexpr int kSlots = 200;
        {
            SlotPrefetcher prefetcher(kSlots, recordingDecoder(log), c.workers, c.ahead);
            for (int slot = 0; slot < kSlots; ++slot) {
                SlotPicture picture = prefetcher.take(slot);
                ASSERT_EQ(picture.width, slot) << c.workers << " workers";
                log.taken = slot + 1;
            }
        }
        std::set<int> unique(log.decoded.begin(), log.decoded.end());
        EXPECT_EQ(log.decoded.size(), static_cast<size_t>(kSlots)) << c.workers << " workers";
        EXPECT_EQ(unique.size(), static_cast<size_t>(kSlots));
        EXPECT_LE(log.worst_lead.load(), c.ahead) << c.workers << " workers, ahead " << c.ahead;
    }
}

TEST(SlotPrefetcherTest, StopsPromptlyWhenDestroyedHalfWay)
{
    DecodeLog log;
    {
        SlotPrefetcher prefetcher(256, recordingDecoder(log), 2, 8);
        prefetcher.take(0);
        prefetcher.take(1);
    } // workers joined, waiting pictures freed
    EXPECT_LE(log.decoded.size(), 2u + 8u);
}

TEST(SlotPrefetcherTest, DecodedBuffersWaitingAtDestructionAreFreed)
{
    // Under AddressSanitizer a leak of these buffers fails the run.
    SlotPrefetcher prefetcher(
        8,
        [](int) {
            SlotPicture picture;
            picture.kind = SlotPicture::Kind::Png;
            picture.pixels = static_cast<unsigned char*>(std::malloc(1024));
            return picture;
        },
        2, 8);
    prefetcher.take(0);
}

TEST(SlotPrefetcherTest, GifFramesWaitingAtDestructionAreFreed)
{
    // Under AddressSanitizer a leak (or a double free) of these frames fails the run.
    for (int taken : {0, 1, 3}) {
        SlotPrefetcher prefetcher(
            6,
            [](int slot) {
                SlotPicture picture;
                picture.kind = Spectrafox::SlotKind::Gif;
                const int count = slot + 1;
                auto** list = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*) * count));
                for (int k = 0; k < count; ++k)
                    list[k] = static_cast<unsigned char*>(std::malloc(4096));
                Spectrafox::GifAnimationInfo info{};
                info.numberOfImages = count;
                info.delayArray = static_cast<int*>(std::calloc(count, sizeof(int)));
                picture.gif_frames = Spectrafox::GifFrames::adopt(list, info);
                return picture;
            },
            2, 4);
        for (int slot = 0; slot < taken; ++slot)
            EXPECT_EQ(prefetcher.take(slot).gif_frames.count(), slot + 1);
    }
}

} // namespace
