// What /api/status and the console's slot line say for a known node.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include "status/slot_summary.h"
#include "status/status_json.h"

using namespace Spectrafox;

namespace {

SlotReport slot(int number, SlotState state, int frames = 0)
{
    SlotReport report;
    report.slot = number;
    report.state = state;
    report.frames = frames;
    return report;
}

TEST(StatusJson, ReportsChannelsPerCanvasSlotsInWordsAndTheLastSender)
{
    NodeSources sources;
    sources.dmx_start = 100;
    sources.canvas_count = 2;
    sources.config = {{"DMX_START=", "100"}, {"HTTP_BIND=", ""}};
    sources.inputs = [] {
        ArtnetReceiver::InputReport in;
        in.artdmx_packets = 7;
        in.last_artnet_sender = 0x0A4F0001; // 10.79.0.1
        in.channels[99] = 11;               // canvas 0, channel 1
        in.channels[99 + 20 + 2] = 33;      // canvas 1, channel 3
        in.channels[99 + 40] = 99;          // beyond the last canvas
        return in;
    };
    sources.addresses = [] {
        return std::vector<InterfaceAddressEntry>{{"eth0", AF_INET, 0x0A4F0002, 0, 0, 0}, {"eth0", AF_INET6, 0, 0, 0, 0}};
    };
    RenderState render;
    render.slots = {slot(0, SlotState::Empty), slot(1, SlotState::Animation, 12), slot(2, SlotState::VideoNoPicture),
                    slot(3, SlotState::VideoPlaying)};
    render.slots[3].playback = PlaybackReport{true, "scrub", 0.0, 2.5, 10.0, true};
    const unsigned char red[4] = {255, 0, 0, 255};
    render.slots[1].thumbnail = SlotThumbnail::of(red, 1, 1);

    const nlohmann::json status = nlohmann::json::parse(statusJson(sources, render));

    EXPECT_EQ(status["config"]["DMX_START"], "100");
    EXPECT_EQ(status["addresses"].size(), 1u);
    EXPECT_EQ(status["addresses"][0]["address"], "10.79.0.2");
    EXPECT_EQ(status["inputs"]["artnet"]["last_sender"], "10.79.0.1");
    ASSERT_EQ(status["canvases"].size(), 2u);
    EXPECT_EQ(status["canvases"][0]["channels"][0], 11);
    EXPECT_EQ(status["canvases"][1]["first_channel"], 120);
    EXPECT_EQ(status["canvases"][1]["channels"][2], 33);
    EXPECT_EQ(status["canvases"][1]["channels"].size(), 20u);
    EXPECT_EQ(status["slots"][1]["frames"], 12);
    EXPECT_EQ(status["slots"][1]["thumbnail"], "/thumbnail/1.png");
    EXPECT_FALSE(status["slots"][2].contains("thumbnail"));
    ASSERT_EQ(status["playback"].size(), 1u) << "only clips that hold a decoder";
    EXPECT_EQ(status["playback"][0]["slot"], 3);
    EXPECT_EQ(status["playback"][0]["mode"], "scrub");
    EXPECT_EQ(status["playback"][0]["position_s"], 2.5);
    EXPECT_EQ(status["playback"][0]["decoder"], "resting");
    EXPECT_TRUE(status["inputs"]["timecode"].is_null()) << "no show clock";

    // A chasing show clock, one hour, two seconds and three frames in at 25 fps.
    sources.timecode = [] {
        ShowClock::Snapshot clock;
        clock.state = ShowClock::State::Chase;
        clock.show_seconds = 3602.0 + 3 / 25.0 + 0.001;
        clock.source = 0x0A4F0009;
        return clock;
    };
    const nlohmann::json timed = nlohmann::json::parse(statusJson(sources, render));
    EXPECT_EQ(timed["inputs"]["timecode"]["timecode"], "01:00:02:03");
    EXPECT_EQ(timed["inputs"]["timecode"]["state"], ShowClock::stateName(ShowClock::State::Chase));
    EXPECT_EQ(timed["inputs"]["timecode"]["source"], "10.79.0.9");
    EXPECT_EQ(status["slots"][2]["state"], "video gives no picture: not H.264");
    EXPECT_EQ(status["slots"][2]["error"], true);
    EXPECT_EQ(status["slots"][0]["kind"], "none");
}

TEST(SlotSummary, CountsEachKindAndNamesErrorsBySlot)
{
    const std::vector<SlotReport> slots = {
        slot(0, SlotState::Picture),      slot(1, SlotState::Picture),      slot(2, SlotState::Animation),
        slot(3, SlotState::VideoPlaying), slot(4, SlotState::VideoStarting), slot(5, SlotState::Empty),
        slot(6, SlotState::NoDecoderFree), slot(9, SlotState::BrokenGif), slot(12, SlotState::NoDecoderFree),
    };
    EXPECT_EQ(slotSummary(slots), "Slots: 2 pictures, 1 GIFs, 1 videos playing, 1 waiting; "
                                  "6, 12: all video decoders taken; 9: .gif that cannot be read or decoded");
}

} // namespace
