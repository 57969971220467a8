#include "platform/omx/ilclient.h"
#include "platform/omx/omx_component.h"
#include "platform/omx/omx_core.h"
#include "platform/omx/video_decode_component.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;
using Rgb = Spectrafox::Test::Rgb;

namespace {

// What reached the end of a pipeline: one entry per picture.
struct Arrival {
    Rgb colour; // below the white band, in the middle
    Rgb band;   // inside the band at the top
    int width;
    int height;
    bool end_of_stream;
    std::chrono::steady_clock::time_point when;
};

// A tunnel sink on port 1 that records every picture it is given.
class PictureSink : public OmxComponent {
public:
    PictureSink() : OmxComponent("OMX.spectrafox.test_sink")
    {
        addPort({1, OMX_DirInput, OMX_PortDomainVideo, 0, 0, 4});
    }

    // Waits (bounded) until at least `count` arrivals; returns a copy.
    std::vector<Arrival> waitFor(size_t count, std::chrono::seconds limit = 30s)
    {
        std::unique_lock<std::mutex> lock(arrivals_mutex);
        arrived.wait_for(lock, limit, [&] { return arrivals.size() >= count; });
        return arrivals;
    }

protected:
    bool process() override
    {
        OmxPicture picture;
        if (!peekPicture(1, &picture))
            return false;
        Arrival arrival{};
        arrival.when = std::chrono::steady_clock::now();
        arrival.end_of_stream = picture.endOfStream();
        if (!arrival.end_of_stream) {
            arrival.width = picture.frame->width;
            arrival.height = picture.frame->height;
            arrival.colour = pixel(*picture.frame, picture.frame->height * 5 / 8);
            arrival.band = pixel(*picture.frame, picture.frame->height / 16);
        }
        popPicture(1);
        {
            std::lock_guard<std::mutex> lock(arrivals_mutex);
            arrivals.push_back(arrival);
        }
        arrived.notify_all();
        return true;
    }

private:
    static Rgb pixel(const AVFrame& frame, int row)
    {
        SwsContext* sws = sws_getContext(frame.width, frame.height,
                                         static_cast<AVPixelFormat>(frame.format), frame.width,
                                         frame.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr,
                                         nullptr, nullptr);
        std::vector<uint8_t> rgb(static_cast<size_t>(frame.width) * frame.height * 3);
        uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
        int strides[4] = {frame.width * 3, 0, 0, 0};
        sws_scale(sws, frame.data, frame.linesize, 0, frame.height, planes, strides);
        sws_freeContext(sws);
        const uint8_t* p = &rgb[(static_cast<size_t>(row) * frame.width + frame.width / 2) * 3];
        return {p[0], p[1], p[2]};
    }

    std::mutex arrivals_mutex;
    std::condition_variable arrived;
    std::vector<Arrival> arrivals;
};

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kWhite{255, 255, 255};

class DecodePipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OMX_Init();
        OmxCore::registerComponent("OMX.spectrafox.test_sink", [this] {
            sink = new PictureSink();
            return static_cast<OmxComponent*>(sink);
        });
        client = ilclient_init();
        ilclient_set_keep_waiting_flag(client, &keep_waiting);
        clip = dir.file("clip.h264");
        // 10 red, 10 green, 10 blue pictures at 25 per second.
        ASSERT_TRUE(makeH264Clip(clip, 320, 240, 25, {{255, 0, 0, 10}, {0, 255, 0, 10}, {0, 0, 255, 10}}));
    }

    void TearDown() override
    {
        teardownPipeline();
        ilclient_destroy(client);
        OmxCore::registerComponent("OMX.spectrafox.test_sink", nullptr);
        OMX_Deinit();
    }

    void teardownPipeline()
    {
        for (int i = 0; tunnels[i].source != nullptr; ++i)
            ilclient_disable_tunnel(&tunnels[i]);
        ilclient_teardown_tunnels(tunnels);
        ilclient_cleanup_components(list);
        std::fill(std::begin(tunnels), std::end(tunnels), TUNNEL_T{});
        used = 0;
        decoder = nullptr;
        sink = nullptr;
    }

    COMPONENT_T* create(const char* name, ILCLIENT_CREATE_FLAGS_T flags)
    {
        COMPONENT_T* comp = nullptr;
        EXPECT_EQ(ilclient_create_component(client, &comp, name, flags), 0) << name;
        list[used++] = comp;
        return comp;
    }

    // Decoder straight into the sink, streaming.
    void buildDecoderToSink()
    {
        decoder = create("video_decode", ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
        COMPONENT_T* sink_comp = create("test_sink", ILCLIENT_DISABLE_ALL_PORTS);
        ASSERT_EQ(ilclient_change_component_state(sink_comp, OMX_StateExecuting), 0);
        startDecoder();
        tunnels[0] = {decoder, 131, sink_comp, 1};
        ASSERT_EQ(ilclient_setup_tunnel(&tunnels[0], 0, 0), 0);
    }

    void startDecoder()
    {
        ASSERT_EQ(ilclient_change_component_state(decoder, OMX_StateIdle), 0);
        ASSERT_EQ(ilclient_enable_port_buffers(decoder, 130, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ilclient_change_component_state(decoder, OMX_StateExecuting), 0);
    }

    // Sends `bytes` in input buffers of at most `chunk` bytes each.
    void feed(const std::string& bytes, size_t chunk, bool end_of_stream)
    {
        size_t offset = 0;
        while (offset < bytes.size() || end_of_stream) {
            OMX_BUFFERHEADERTYPE* buffer = ilclient_get_input_buffer(decoder, 130, 1);
            ASSERT_NE(buffer, nullptr);
            const size_t n = std::min({chunk, bytes.size() - offset, size_t(buffer->nAllocLen)});
            std::copy(bytes.begin() + offset, bytes.begin() + offset + n, buffer->pBuffer);
            offset += n;
            buffer->nFilledLen = static_cast<OMX_U32>(n);
            buffer->nOffset = 0;
            const bool last = end_of_stream && offset == bytes.size();
            buffer->nFlags = last ? OMX_BUFFERFLAG_EOS : OMX_BUFFERFLAG_TIME_UNKNOWN;
            ASSERT_EQ(OMX_EmptyThisBuffer(ilclient_get_handle(decoder), buffer), OMX_ErrorNone);
            if (last)
                break;
        }
    }

    static std::vector<Rgb> colours(const std::vector<Arrival>& arrivals)
    {
        std::vector<Rgb> result;
        for (const Arrival& a : arrivals)
            if (!a.end_of_stream)
                result.push_back(a.colour);
        return result;
    }

    static void expectCycles(const std::vector<Rgb>& seen, int cycles)
    {
        ASSERT_EQ(seen.size(), size_t(30 * cycles));
        for (size_t i = 0; i < seen.size(); ++i) {
            const Rgb expected = (i % 30) < 10 ? kRed : (i % 30) < 20 ? kGreen : kBlue;
            EXPECT_TRUE(closeColour(seen[i], expected))
                << "picture " << i << ": " << seen[i].r << "," << seen[i].g << "," << seen[i].b;
        }
    }

    TempDir dir;
    std::string clip;
    std::atomic<bool> keep_waiting{true};
    ILCLIENT_T* client = nullptr;
    COMPONENT_T* list[8] = {};
    int used = 0;
    TUNNEL_T tunnels[4] = {};
    COMPONENT_T* decoder = nullptr;
    PictureSink* sink = nullptr;
};

TEST(FrameDuration, ComesFromTheStreamRateOrIsOneTwentyFifth)
{
    struct Case {
        AVRational rate;
        int64_t expected_us;
    };
    const Case cases[] = {
        {{25, 1}, 40000},   {{50, 1}, 20000},    {{10, 1}, 100000}, {{30000, 1001}, 33367},
        {{0, 1}, 40000},    {{25, 0}, 40000},    {{-25, 1}, 40000}, {{1000, 1}, 40000},
        {{1, 2}, 40000},    {{240, 1}, 4167},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VideoDecodeComponent::frameDurationUs(c.rate), c.expected_us)
            << c.rate.num << "/" << c.rate.den;
}

TEST_F(DecodePipelineTest, AnnouncesThePictureSizeBeforeReturningTheBufferThatCompletedIt)
{
    buildDecoderToSink();
    // Keep all buffers but one, so that the next free buffer is the one that
    // brought the whole clip: once it is back the announcement must be listed.
    std::vector<OMX_BUFFERHEADERTYPE*> kept;
    while (OMX_BUFFERHEADERTYPE* b = ilclient_get_input_buffer(decoder, 130, 0))
        kept.push_back(b);
    ASSERT_GE(kept.size(), 2u);
    OMX_BUFFERHEADERTYPE* carrier = kept.back();
    kept.pop_back();
    const std::string bytes = readFile(clip);
    std::copy(bytes.begin(), bytes.end(), carrier->pBuffer);
    carrier->nFilledLen = static_cast<OMX_U32>(bytes.size());
    carrier->nFlags = OMX_BUFFERFLAG_STARTTIME;
    ASSERT_EQ(OMX_EmptyThisBuffer(ilclient_get_handle(decoder), carrier), OMX_ErrorNone);
    ASSERT_EQ(ilclient_get_input_buffer(decoder, 130, 1), carrier);
    EXPECT_EQ(ilclient_remove_event(decoder, OMX_EventPortSettingsChanged, 131, 0, 0, 1), 0);

    OMX_PARAM_PORTDEFINITIONTYPE definition{};
    definition.nSize = sizeof(definition);
    definition.nVersion = omxVersion();
    definition.nPortIndex = 131;
    ASSERT_EQ(OMX_GetParameter(ilclient_get_handle(decoder), OMX_IndexParamPortDefinition, &definition),
              OMX_ErrorNone);
    EXPECT_EQ(definition.format.video.nFrameWidth, 320u);
    EXPECT_EQ(definition.format.video.nFrameHeight, 240u);
}

TEST_F(DecodePipelineTest, DecodesEveryPictureWithItsColourWhereverTheBufferCutsFall)
{
    for (size_t chunk : {size_t(81920), size_t(1000), size_t(7)}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        buildDecoderToSink();
        feed(readFile(clip), chunk, true);
        const std::vector<Arrival> arrivals = sink->waitFor(31);
        ASSERT_EQ(arrivals.size(), 31u);
        EXPECT_TRUE(arrivals.back().end_of_stream);
        expectCycles(colours(arrivals), 1);
        EXPECT_EQ(arrivals[0].width, 320);
        EXPECT_EQ(arrivals[0].height, 240);
        EXPECT_TRUE(closeColour(arrivals[0].band, kWhite)) << "the band is at the top";
        teardownPipeline();
    }
}

TEST_F(DecodePipelineTest, AStreamThatStartsAgainWithoutAFlushLosesNoPicture)
{
    buildDecoderToSink();
    const std::string bytes = readFile(clip);
    feed(bytes + bytes + bytes, 81920, true);
    const std::vector<Arrival> arrivals = sink->waitFor(91);
    ASSERT_EQ(arrivals.size(), 91u);
    expectCycles(colours(arrivals), 3);
}

TEST_F(DecodePipelineTest, GarbageIsSwallowedAndAGoodStreamStillDecodesAfterIt)
{
    buildDecoderToSink();
    std::mt19937 random(7);
    std::string garbage(300000, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    feed(garbage, 81920, false);
    feed(readFile(clip), 81920, true);
    const std::vector<Arrival> arrivals = sink->waitFor(31);
    ASSERT_FALSE(arrivals.empty());
    ASSERT_TRUE(arrivals.back().end_of_stream);
    // The tail of the clip survives whatever the garbage did to its start.
    const std::vector<Rgb> seen = colours(arrivals);
    ASSERT_GE(seen.size(), 10u);
    EXPECT_TRUE(closeColour(seen.back(), kBlue));
}

TEST_F(DecodePipelineTest, SchedulerReleasesPicturesNoFasterThanTheStreamRate)
{
    // The stream says 10 pictures per second: 11 pictures span at least one
    // second (the default of 25 would take 0.4 s). Only a lower bound is
    // asserted, which no load on the machine can break.
    const std::string slow = dir.file("slow.h264");
    ASSERT_TRUE(makeH264Clip(slow, 160, 120, 10, {{255, 0, 0, 12}}));

    decoder = create("video_decode", ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
    COMPONENT_T* scheduler = create("video_scheduler", ILCLIENT_DISABLE_ALL_PORTS);
    COMPONENT_T* clock = create("clock", ILCLIENT_DISABLE_ALL_PORTS);
    COMPONENT_T* sink_comp = create("test_sink", ILCLIENT_DISABLE_ALL_PORTS);

    OMX_TIME_CONFIG_CLOCKSTATETYPE cstate{};
    cstate.nSize = sizeof(cstate);
    cstate.nVersion = omxVersion();
    cstate.eState = OMX_TIME_ClockStateWaitingForStartTime;
    cstate.nWaitMask = 1;
    ASSERT_EQ(OMX_SetParameter(ilclient_get_handle(clock), OMX_IndexConfigTimeClockState, &cstate),
              OMX_ErrorNone);
    tunnels[0] = {clock, 80, scheduler, 12};
    ASSERT_EQ(ilclient_setup_tunnel(&tunnels[0], 0, 0), 0);
    ASSERT_EQ(ilclient_change_component_state(clock, OMX_StateExecuting), 0);
    startDecoder();
    feed(readFile(slow), 81920, true);
    tunnels[1] = {decoder, 131, scheduler, 10};
    ASSERT_EQ(ilclient_setup_tunnel(&tunnels[1], 0, 0), 0);
    ASSERT_EQ(ilclient_change_component_state(scheduler, OMX_StateExecuting), 0);
    ASSERT_EQ(ilclient_change_component_state(sink_comp, OMX_StateExecuting), 0);
    tunnels[2] = {scheduler, 11, sink_comp, 1};
    ASSERT_EQ(ilclient_setup_tunnel(&tunnels[2], 0, 1000), 0);

    const std::vector<Arrival> arrivals = sink->waitFor(11);
    ASSERT_GE(arrivals.size(), 11u);
    EXPECT_GE(arrivals[10].when - arrivals[0].when, 990ms);
}

} // namespace

namespace {

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasuresMemory = false; // the sanitizers keep freed memory for themselves
#else
constexpr bool kMeasuresMemory = true;
#endif

// Input that never forms a picture: memory must stay bounded however much
// comes (the parser used to gather a byte stream without start codes for
// ever), and a good stream after it still decodes.
TEST_F(DecodePipelineTest, InputWithoutPicturesKeepsMemoryBoundedAndAGoodStreamFollows)
{
    const std::string mp4 = dir.file("clip.mp4");
    const std::string hevc = dir.file("clip.hevc");
    const std::string wide = dir.file("wide.h264");
    ASSERT_TRUE(makeClip(mp4, 320, 240, 25, {{255, 0, 0, 25}}, "-c:v libx264 -pix_fmt yuv420p -f mp4"));
    ASSERT_TRUE(makeClip(hevc, 320, 240, 25, {{255, 0, 0, 25}},
                         "-c:v libx265 -x265-params log-level=error -f hevc"));
    ASSERT_TRUE(writeParameterSetsOnly(wide, 17600, 16));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"bytes without a start code", std::string(1 << 20, '\xff')},
        {"an MP4 file", readFile(mp4)},
        {"an HEVC stream", readFile(hevc)},
        {"parameter sets of a huge picture, without slices", readFile(wide)},
    };
    // Without bounds memory grows by at least what is fed; with them by a
    // few times the largest access unit the parser gathers (8 MiB).
    constexpr size_t kFed = (kMeasuresMemory ? 64u : 8u) << 20;
    constexpr long kMostGrowthKiB = 32 << 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.bytes.empty());
        buildDecoderToSink();
        const long before = residentKiB();
        for (size_t fed = 0; fed < kFed; fed += c.bytes.size())
            feed(c.bytes, 81920, false);
        if (kMeasuresMemory) {
            EXPECT_LT(residentKiB() - before, kMostGrowthKiB);
        }
        // What was held back meets the start of a good stream here.
        feed(readFile(clip), 81920, true);
        const std::vector<Arrival> arrivals = sink->waitFor(31);
        if (kMeasuresMemory) {
            EXPECT_LT(residentKiB() - before, kMostGrowthKiB) << "once the good stream came";
        }
        ASSERT_FALSE(arrivals.empty());
        EXPECT_TRUE(arrivals.back().end_of_stream);
        const std::vector<Rgb> seen = colours(arrivals);
        ASSERT_GE(seen.size(), 10u);
        EXPECT_TRUE(closeColour(seen.back(), kBlue));
        teardownPipeline();
    }
}

TEST_F(DecodePipelineTest, DecodingThreadsComeFromOneBudgetAndGoBack)
{
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(VideoDecodeComponent::decodingThreadsInUse(), 0);
    COMPONENT_T* decoders[3] = {};
    for (COMPONENT_T*& d : decoders) {
        d = create("video_decode", ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
        ASSERT_EQ(ilclient_change_component_state(d, OMX_StateIdle), 0);
    }
    // Each decoder has at least one; together no more than the cores, or
    // one each where there are fewer cores than decoders.
    const int in_use = VideoDecodeComponent::decodingThreadsInUse();
    EXPECT_GE(in_use, 3);
    EXPECT_LE(in_use, std::max(cores, 3));
    teardownPipeline();
    EXPECT_EQ(VideoDecodeComponent::decodingThreadsInUse(), 0);
}

} // namespace
