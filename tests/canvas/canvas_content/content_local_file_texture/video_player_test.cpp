#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "platform/media/clip_decoder.h"
#include "support/gl_fixture.h"
#include "support/h264_clip.h"
#include "support/numbered_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPictures = 50;
constexpr int64_t kFrameUs = 40000;
// Video pictures are drawn with the vertically flipped coordinates of the
// file texture plug-in: texture row 0 is the bottom of the picture.
const GLfloat kTexCoordsVid[8] = {0, 0, 1, 0, 0, 1, 1, 1};
const GLfloat kFullScreen[8] = {-1, -1, 1, -1, -1, 1, 1, 1};

int fraction(int picture) { return picture * PlaybackSteering::kWholeClip / kPictures; }

PlaybackSteering steering(uint64_t epoch, int origin, int in, bool once, double u_pictures,
                          double rate)
{
    PlaybackSteering s;
    s.epoch = epoch;
    s.origin = origin;
    s.in = in;
    s.once = once;
    s.u_us = u_pictures * kFrameUs;
    s.steady_ns = PictureQueue::steadyNowNs();
    s.rate = rate;
    return s;
}

class VideoPlayerTest : public GlTest {
protected:
    void SetUp() override
    {
        clip = dir.file("clip.h264");
        ASSERT_TRUE(makeNumberedClip(clip, NumberedClip{kPictures, 25, 12, 2}));
    }

    VideoPlayer& makePlayer(int slots = 3, bool give_back = false)
    {
        CurrentEglHandles egl;
        player = std::make_unique<VideoPlayer>(&egl.display, &egl.surface, &egl.context, slots,
                                               give_back);
        return *player;
    }

    // Draws what the slot shows over the whole surface as the renderer draws
    // a video, and reads the picture's number; -1 when it shows nothing yet,
    // a picture that is not upright (the white band at the top) or no number.
    int shown(int id, VideoPlayer::Shown* how = nullptr)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        Spectrafox::glDisable(GL_BLEND);
        Spectrafox::glEnable(GL_TEXTURE_2D);
        glDisableClientState(GL_COLOR_ARRAY);
        glColor4f(1, 1, 1, 1);
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, kFullScreen);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, kTexCoordsVid);
        glClear(GL_COLOR_BUFFER_BIT);
        const VideoPlayer::Shown result = player->bindDue(id);
        if (how != nullptr)
            *how = result;
        if (result == VideoPlayer::Shown::Nothing)
            return -1;
        Spectrafox::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
        const std::vector<Rgba> frame = gl.frame();
        const auto row = [&](int y) {
            return reinterpret_cast<const uint8_t*>(&frame[static_cast<size_t>(y) * gl.width()]);
        };
        if (numberInRow(row(gl.height() / 32), gl.width(), 4) != 1023)
            return -1;
        return numberInRow(row(gl.height() * 5 / 8), gl.width(), 4);
    }

    // The number once the slot shows a picture of its current path.
    int settled(int id)
    {
        const Clock::time_point end = Clock::now() + 20s;
        VideoPlayer::Shown how = VideoPlayer::Shown::Nothing;
        int number = -1;
        while (how != VideoPlayer::Shown::Current && Clock::now() < end) {
            number = shown(id, &how);
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(how, VideoPlayer::Shown::Current);
        return number;
    }

    void waitUntil(const std::function<bool()>& done)
    {
        const Clock::time_point end = Clock::now() + 30s;
        while (!done() && Clock::now() < end)
            std::this_thread::sleep_for(10ms);
    }

    TempDir dir;
    std::string clip;
    std::unique_ptr<VideoPlayer> player;
};

// Scrubbed, paused, looped from an in-point, held at the end of a single
// pass: each lands on its picture, upright, on one slot one after the other.
TEST_F(VideoPlayerTest, ShowsThePictureItsSteeringAsksFor)
{
    const struct {
        const char* what;
        int origin, in;
        bool once;
        double u_pictures;
        int expected;
    } cases[] = {
        {"scrubbed to a picture", fraction(37), 0, false, 0, 37},
        {"paused ten pictures in", 0, 0, false, 10.4, 10},
        {"the second pass of a loop from its in-point", fraction(45), fraction(45), false, 7, 47},
        {"a loop past the end starts again at its in-point", 0, 0, false, kPictures + 3, 3},
        {"once past the end holds the last picture", fraction(40), 0, true, 30, kPictures - 1},
        {"back to the start", 0, 0, false, 0, 0},
    };
    VideoPlayer& p = makePlayer();
    uint64_t epoch = 1;
    ASSERT_EQ(p.startFreePlayer(clip, steering(epoch, 0, 0, false, 0, 0.0)), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        p.steer(1, steering(++epoch, c.origin, c.in, c.once, c.u_pictures, 0.0));
        EXPECT_EQ(settled(1), c.expected);
    }
    EXPECT_EQ(p.timing(1).duration_us, kPictures * kFrameUs);
    EXPECT_FALSE(p.playbackFailed(1));
}

// Streams that never give a picture end by themselves within the bounds,
// release their decoder and say so; nothing is ever shown.
TEST_F(VideoPlayerTest, AStreamWithoutPicturesFailsOnItsOwnAndReleasesItsDecoder)
{
    // The kinds of stream are clip_decoder_test's; here, what the slot does.
    std::mt19937 random(5);
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    ASSERT_TRUE(writeParameterSetsOnly(dir.file("sets.h264"), 64, 48));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"random bytes", noise},
        {"parameter sets and nothing else", readFile(dir.file("sets.h264"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.write("bad.h264", c.bytes);
        VideoPlayer& p = makePlayer();
        ASSERT_EQ(p.startFreePlayer(file, steering(1, 0, 0, false, 0, 1.0)), 1);
        waitUntil([&] { return p.playbackFailed(1); });
        EXPECT_TRUE(p.playbackFailed(1));
        EXPECT_EQ(ClipDecoder::decodingThreadsInUse(), 0) << "the decoder is released";
        EXPECT_EQ(p.bindDue(1), VideoPlayer::Shown::Nothing);
        EXPECT_EQ(p.getPictureCount(1), 0);
        player.reset();
    }
}

TEST_F(VideoPlayerTest, ThreeSlotsAtMostForTheLifeOfThePlayerUnlessGivenBack)
{
    const PlaybackSteering playing = steering(1, 0, 0, false, 0, 1.0);
    for (bool give_back : {false, true}) {
        SCOPED_TRACE(give_back ? "given back" : "taken for good");
        VideoPlayer& p = makePlayer(3, give_back);
        EXPECT_EQ(p.startFreePlayer(clip, playing), 1);
        EXPECT_EQ(p.startFreePlayer(clip, playing), 2);
        EXPECT_EQ(p.startFreePlayer(clip, playing), 3);
        EXPECT_EQ(p.startFreePlayer(clip, playing), 0);
        for (int odd : {0, 4, -1})
            p.stopPlayer(odd);
        for (int id : {1, 2, 3}) {
            waitUntil([&] { return shown(id) >= 0; });
            EXPECT_GT(p.getPictureCount(id), 0) << "slot " << id;
        }
        EXPECT_EQ(p.getPictureCount(0), 0);
        EXPECT_EQ(p.getPictureCount(4), 0);
        p.stopPlayer(2);
        EXPECT_EQ(p.startFreePlayer(clip, playing), give_back ? 2 : 0);
        player.reset();
        EXPECT_EQ(ClipDecoder::decodingThreadsInUse(), 0);
    }
}

// Whatever a slot is doing (opening, waiting for the screen to take its
// pictures, resting off screen, failing), stopping it returns at once and
// no picture changes after.
TEST_F(VideoPlayerTest, StoppingReturnsPromptlyWhateverTheSlotIsDoing)
{
    std::mt19937 random(11);
    std::string garbage(4u << 20, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    const std::string bad = dir.write("garbage.h264", garbage);
    PlaybackSteering parked = steering(1, 0, 0, false, 0, 1.0);
    parked.parked = true;
    const struct {
        const char* what;
        std::string file;
        PlaybackSteering steering;
        std::chrono::milliseconds after;
    } cases[] = {
        {"just started", clip, steering(1, 0, 0, false, 0, 1.0), 0ms},
        {"paused with its pictures decoded", clip, steering(1, 0, 0, false, 5, 0.0), 500ms},
        {"resting off screen", clip, parked, 300ms},
        {"looking for a picture in garbage", bad, steering(1, 0, 0, false, 0, 1.0), 100ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VideoPlayer& p = makePlayer();
        ASSERT_EQ(p.startFreePlayer(c.file, c.steering), 1);
        std::this_thread::sleep_for(c.after);
        const Clock::time_point before = Clock::now();
        p.stopPlayer(1);
        EXPECT_LT(Clock::now() - before, 1s);
        const long count = p.getPictureCount(1);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(p.getPictureCount(1), count);
        player.reset();
    }
    VideoPlayer& p = makePlayer();
    for (int id : {1, 2, 3})
        ASSERT_EQ(p.startFreePlayer(clip, steering(1, 0, 0, false, 0, 1.0)), id);
    waitUntil([&] { return shown(3) >= 0; });
    const Clock::time_point before = Clock::now();
    player.reset();
    EXPECT_LT(Clock::now() - before, 1s) << "destroyed with three slots playing";
}

// The read calls this process has made so far.
long readCalls()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = -1;
    while (io >> key >> value && key != "syscr:") {}
    return value;
}

// A playing clip's file emptied and removed (a folder cleared, a stick
// pulled): the slot keeps its last picture and looks for the file again a
// few times a second, not in a loop.
TEST_F(VideoPlayerTest, AClipWhoseFileIsGoneIsLookedForAFewTimesASecond)
{
    for (const std::string format : {"h264", "mp4"}) {
        SCOPED_TRACE(format);
        // Noise, so that the file is more than the reader holds at once.
        const std::string file = dir.file("gone." + format);
        ASSERT_TRUE(runFfmpeg("-f lavfi -i 'nullsrc=s=320x240:r=25:d=0.4,geq=random(1)*255:128:128' "
                              "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -f " + format + " '" + file + "'"));
        VideoPlayer& p = makePlayer();
        ASSERT_EQ(p.startFreePlayer(file, steering(1, 0, 0, false, 0, 1.0)), 1);
        waitUntil([&] { return p.bindDue(1) != VideoPlayer::Shown::Nothing; });
        ASSERT_TRUE(truncate(file.c_str(), 0) == 0 && unlink(file.c_str()) == 0);
        long before = 0;
        for (const Clock::time_point end = Clock::now() + 1500ms; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
            before = Clock::now() < end - 1s ? readCalls() : before; // from past the clip's end
            EXPECT_NE(p.bindDue(1), VideoPlayer::Shown::Nothing) << "the last picture stays";
        }
        EXPECT_LT(readCalls() - before, 100);
        player.reset();
    }
}

// The stream goes 640x480 then 160x96: every picture is shown whole, in
// whatever size it comes.
TEST_F(VideoPlayerTest, EveryPictureIsShownWholeWhateverSizeTheStreamHas)
{
    const std::string large = dir.file("large.h264");
    ASSERT_TRUE(makeNumberedClip(large, NumberedClip{10, 25, 5, 0, "h264", 640, 480}));
    const std::string file = dir.write("changing.h264", readFile(large) + readFile(clip));
    VideoPlayer& p = makePlayer();
    ASSERT_EQ(p.startFreePlayer(file, steering(1, 0, 0, false, 3, 0.0)), 1);
    EXPECT_EQ(settled(1), 3);
    p.steer(1, steering(2, 0, 0, false, 10 + 7, 0.0));
    EXPECT_EQ(settled(1), 7) << "the second stream's eighth picture";
}

} // namespace
} // namespace Spectrafox::Test
