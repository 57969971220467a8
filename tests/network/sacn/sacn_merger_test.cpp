#include "network/sacn/sacn_merger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "support/sacn_packets.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;
using Clock = SacnMerger::Clock;

namespace {

// A packet from source `source` (a CID number) with the given channel values.
struct Sent {
    uint16_t source = 1;
    uint8_t priority = 100;
    uint8_t sequence = 0;
    std::vector<uint8_t> slots = {};
    bool terminated = false;
};

class Desk {
public:
    // Keeps the bytes alive: SacnDataPacket points into them.
    bool send(SacnMerger& merger, const Sent& s, Clock::time_point now)
    {
        storage = s.slots;
        SacnDataPacket p;
        p.cid = sacnCid(s.source);
        p.priority = s.priority;
        p.sequence = s.sequence;
        p.stream_terminated = s.terminated;
        p.slots = storage.data();
        p.slot_count = static_cast<int>(storage.size());
        return merger.take(p, now);
    }

private:
    std::vector<uint8_t> storage;
};

std::vector<uint8_t> firstChannels(const SacnMerger& m, std::size_t n)
{
    return std::vector<uint8_t>(m.output().begin(), m.output().begin() + n);
}

const Clock::time_point t0{}; // the injected clock's start

// The sequence rule with 8-bit wrap-around: 0 to 19 behind is late.
TEST(SacnMerger, SequenceNumbersDropLatePackets)
{
    const struct {
        uint8_t last, next;
        bool taken;
    } cases[] = {
        {10, 11, true},  {10, 10, false}, {10, 9, false},  {10, 247, false}, // 247 is 19 behind 10
        {10, 246, true}, // 20 behind: a source that restarted
        {255, 0, true},  {0, 255, false}, {250, 3, true},  {3, 250, false}, // across the wrap
        {5, 241, true},  {100, 228, true}, {100, 227, true}, {100, 80, true},  {100, 81, false},
    };
    for (const auto& c : cases) {
        SacnMerger merger;
        Desk desk;
        ASSERT_TRUE(desk.send(merger, {1, 100, c.last, {1}}, t0));
        EXPECT_EQ(desk.send(merger, {1, 100, c.next, {2}}, t0 + 1ms), c.taken)
            << int(c.last) << " then " << int(c.next);
        EXPECT_EQ(merger.output()[0], c.taken ? 2 : 1);
    }
}

// Each row: packets in order, then the first channels of the merged output.
TEST(SacnMerger, HighestPriorityWinsAndEqualPrioritiesMergeHighestValue)
{
    const struct {
        const char* name;
        std::vector<Sent> packets;
        std::vector<uint8_t> expected;
        int channels;
    } cases[] = {
        {"one source", {{1, 100, 0, {10, 20, 30}}}, {10, 20, 30}, 3},
        {"HTP per channel", {{1, 100, 0, {10, 200, 30}}, {2, 100, 0, {50, 20, 0}}}, {50, 200, 30}, 3},
        {"higher priority takes over", {{1, 100, 0, {10, 200, 30}}, {2, 150, 0, {1, 2, 3}}}, {1, 2, 3}, 3},
        {"lower priority is ignored", {{1, 150, 0, {1, 2, 3}}, {2, 100, 0, {90, 90, 90}}}, {1, 2, 3}, 3},
        {"shorter source adds nothing past its end",
         {{1, 100, 0, {5, 5, 5, 5}}, {2, 100, 0, {9, 1}}}, {9, 5, 5, 5}, 4},
        {"priority drop of the top source hands over",
         {{1, 150, 0, {1, 1}}, {2, 100, 0, {7, 7}}, {1, 50, 1, {200, 200}}}, {7, 7}, 2},
        {"three sources, two at the top", {{1, 120, 0, {1, 99, 0}}, {2, 80, 0, {255, 255, 255}},
                                           {3, 120, 0, {50, 0, 3}}}, {50, 99, 3}, 3},
        {"a new value replaces a source's old one", {{1, 100, 0, {200}}, {1, 100, 1, {10}}}, {10}, 1},
        {"an empty universe carries no channels", {{1, 100, 0, {}}}, {0}, 0},
    };
    for (const auto& c : cases) {
        SacnMerger merger;
        Desk desk;
        for (const Sent& s : c.packets)
            desk.send(merger, s, t0);
        EXPECT_EQ(firstChannels(merger, c.expected.size()), c.expected) << c.name;
        EXPECT_EQ(merger.outputChannels(), c.channels) << c.name;
    }
}

TEST(SacnMerger, SilenceAndTerminationEndSources)
{
    SacnMerger merger;
    Desk desk;
    ASSERT_TRUE(desk.send(merger, {1, 100, 0, {10, 10}}, t0));
    ASSERT_TRUE(desk.send(merger, {2, 200, 0, {90, 90}}, t0 + 1s));
    EXPECT_EQ(merger.output()[0], 90);

    // Source 1 keeps sending; source 2 falls silent. 2.5 s after its last
    // packet it ends, and source 1 is shown again.
    ASSERT_TRUE(desk.send(merger, {1, 100, 1, {11, 11}}, t0 + 3s));
    EXPECT_EQ(merger.output()[0], 90);
    EXPECT_FALSE(merger.expire(t0 + 3499ms));
    EXPECT_EQ(merger.sourceCount(), 2u);
    EXPECT_TRUE(merger.expire(t0 + 3500ms));
    EXPECT_EQ(merger.sourceCount(), 1u);
    EXPECT_EQ(firstChannels(merger, 2), (std::vector<uint8_t>{11, 11}));

    // The ended source comes back with any sequence number.
    ASSERT_TRUE(desk.send(merger, {2, 200, 0, {70, 70}}, t0 + 4s));
    EXPECT_EQ(merger.output()[0], 70);

    // Stream terminated: its data are not shown, the source ends at once.
    EXPECT_TRUE(desk.send(merger, {2, 200, 1, {255, 255}, true}, t0 + 4100ms));
    EXPECT_EQ(merger.sourceCount(), 1u);
    EXPECT_EQ(merger.output()[0], 11);
    // Further terminated packets of an ended source change nothing.
    EXPECT_FALSE(desk.send(merger, {2, 200, 2, {255, 255}, true}, t0 + 4200ms));

    // The last source ending leaves the output as it was.
    EXPECT_FALSE(desk.send(merger, {1, 100, 2, {0, 0}, true}, t0 + 4300ms));
    EXPECT_EQ(merger.sourceCount(), 0u);
    EXPECT_EQ(merger.output()[0], 11);
    EXPECT_FALSE(merger.expire(t0 + 60s));
}

TEST(SacnMerger, LateTerminationIsDroppedLikeLateData)
{
    SacnMerger merger;
    Desk desk;
    ASSERT_TRUE(desk.send(merger, {1, 100, 50, {1}}, t0));
    EXPECT_FALSE(desk.send(merger, {1, 100, 45, {}, true}, t0));
    EXPECT_EQ(merger.sourceCount(), 1u);
}

// 10,000 forged CIDs: the table stays at its cap, the tracked source keeps
// control of its channels, and sources past the cap are never merged.
TEST(SacnMerger, ForgedSourcesAreCappedAndCannotDisplaceTrackedOnes)
{
    SacnMerger merger;
    Desk desk;
    ASSERT_TRUE(desk.send(merger, {1, 100, 0, {40, 40}}, t0));
    for (uint16_t forged = 2; forged < 10002; ++forged)
        desk.send(merger, {forged, 100, 0, {0, 0}}, t0 + 1ms);
    EXPECT_EQ(merger.sourceCount(), SacnMerger::kMaxSources);
    EXPECT_EQ(firstChannels(merger, 2), (std::vector<uint8_t>{40, 40}));
    // A forged source past the cap at top priority would take over: it is dropped.
    EXPECT_FALSE(desk.send(merger, {20000, 200, 0, {1, 1}}, t0 + 2ms));
    EXPECT_EQ(merger.output()[0], 40);
    // The tracked source still drives its channels.
    ASSERT_TRUE(desk.send(merger, {1, 100, 1, {41, 41}}, t0 + 3ms));
    EXPECT_EQ(merger.output()[0], 41);
    // Once the flood is silent its sources end and new ones are taken again.
    merger.expire(t0 + 2502ms);
    EXPECT_EQ(merger.sourceCount(), 1u);
    EXPECT_TRUE(desk.send(merger, {20000, 200, 1, {1, 1}}, t0 + 2600ms));
    EXPECT_EQ(merger.output()[0], 1);
}

} // namespace
