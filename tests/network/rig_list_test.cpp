// The rig's other nodes from their ArtPollReplies, and when this node polls.
#include <gtest/gtest.h>

#include "network/artnet/art_poll_reply.h"
#include "network/rig_list.h"

using namespace Spectrafox;

namespace {

TEST(RigList, OnlyWholeRepliesOfOurNodesAreTaken)
{
    ArtPollReply::Node named;
    named.short_name = "Stage left";
    named.long_name = std::string(80, 'L'); // longer than its field: cut, never read past
    const ArtPollReply::Bytes ours = ArtPollReply::build(0x0A000105, named);
    const auto with = [&ours](size_t offset, uint8_t value) {
        ArtPollReply::Bytes changed = ours;
        changed[offset] = value;
        return changed;
    };
    const struct {
        const char* name;
        ArtPollReply::Bytes bytes;
        size_t size;
        bool taken;
    } cases[] = {
        {"ours", ours, ours.size(), true},
        {"up to the node report", ours, Artnet::kReplyNodeReportOffset, true},
        {"cut in the long name", ours, Artnet::kReplyNodeReportOffset - 1, false},
        {"another maker's node", with(Artnet::kReplyOemLoOffset, 0x01), ours.size(), false},
        {"an ArtPoll's OpCode", with(Artnet::kOpCodeOffset + 1, 0x20), ours.size(), false},
        {"not Art-Net", with(0, 'a'), ours.size(), false},
        {"a long name without its end", with(Artnet::kReplyNodeReportOffset - 1, 'L'), ours.size(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RigList::Node node;
        ASSERT_EQ(RigList::parseReply(c.bytes.data(), c.size, &node), c.taken);
        if (!c.taken)
            continue;
        EXPECT_EQ(node.address, 0x0A000105u);
        EXPECT_EQ(node.short_name, "Stage left");
        EXPECT_LE(node.long_name.size(), Artnet::kReplyLongNameSize);
    }
}

// Polls only while a page asks, where no desk polls, at most every 10 s.
TEST(RigList, PollsOnlyForAPageWhereNoDeskDoes)
{
    using std::chrono::seconds;
    RigList rig;
    const RigList::Clock::time_point t0{};
    EXPECT_FALSE(rig.pollDue(t0)); // no page yet
    rig.nodes(t0);
    EXPECT_TRUE(rig.pollDue(t0));
    EXPECT_FALSE(rig.pollDue(t0 + seconds(9)));
    rig.nodes(t0 + seconds(9));
    EXPECT_TRUE(rig.pollDue(t0 + seconds(10)));
    rig.pollSeen(t0 + seconds(12)); // a desk polls
    rig.nodes(t0 + seconds(20));
    EXPECT_FALSE(rig.pollDue(t0 + seconds(21)));
    EXPECT_TRUE(rig.pollDue(t0 + seconds(23)));
    EXPECT_FALSE(rig.pollDue(t0 + seconds(60))); // the page went away
}

} // namespace
