#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "platform/omx/omx_component.h"
#include "platform/omx/omx_core.h"
#include "platform/omx/egl_render_component.h"
#include "platform/omx/video_decode_component.h"
#include "support/gl_fixture.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unistd.h>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kVideoWidth = 320;
constexpr int kVideoHeight = 240;
// Video pictures are drawn with the vertically flipped coordinates of the
// file texture plug-in: texture row 0 is the bottom of the picture.
const GLfloat kTexCoordsVid[8] = {0, 0, 1, 0, 0, 1, 1, 1};
const GLfloat kFullScreen[8] = {-1, -1, 1, -1, -1, 1, 1, 1};

// One letter per colour of the test clip; '?' for anything else (a texture
// never written yet, say).
char classify(const Rgba& p)
{
    const Rgb c{p.r, p.g, p.b};
    if (closeColour(c, {255, 0, 0}))
        return 'R';
    if (closeColour(c, {0, 255, 0}))
        return 'G';
    if (closeColour(c, {0, 0, 255}))
        return 'B';
    if (closeColour(c, {255, 255, 255}))
        return 'W';
    return '?';
}

class VideoPlayerTest : public GlTest {
protected:
    void SetUp() override
    {
        clip = dir.file("clip.h264");
        // 10 red, 10 green, 10 blue pictures at 25 per second: 1.2 s a pass.
        ASSERT_TRUE(makeH264Clip(clip, kVideoWidth, kVideoHeight, 25,
                                 {{255, 0, 0, 10}, {0, 255, 0, 10}, {0, 0, 255, 10}}));
    }

    void TearDown() override
    {
        player.reset();
        for (GLuint t : textures)
            glDeleteTextures(1, &t);
    }

    VideoPlayer& makePlayer()
    {
        CurrentEglHandles egl;
        player = std::make_unique<VideoPlayer>(&egl.display, &egl.surface, &egl.context);
        return *player;
    }

    // A texture as the texture slot makes it for a video.
    GLuint makeVideoTexture()
    {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kVideoWidth, kVideoHeight, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        textures.push_back(texture);
        return texture;
    }

    // Draws the texture over the whole surface as the renderer draws a video.
    void drawTexture(GLuint texture)
    {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        Spectrafox::glDisable(GL_BLEND);
        Spectrafox::glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, texture);
        glDisableClientState(GL_COLOR_ARRAY);
        glColor4f(1, 1, 1, 1);
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, kFullScreen);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, kTexCoordsVid);
        glClear(GL_COLOR_BUFFER_BIT);
        Spectrafox::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
    }

    // The picture below the band and the band at the top of the screen, as
    // slot 1 shows it (the player may hand over to textures of its own).
    std::pair<char, char> look(GLuint texture)
    {
        drawTexture(player ? player->currentTexture(1, texture) : texture);
        return {classify(gl.pixelAt(gl.width() / 2, gl.height() * 5 / 8)),
                classify(gl.pixelAt(gl.width() / 2, gl.height() / 16))};
    }

    // Watches the texture until the sequence of picture colours (repeats
    // collapsed) contains `wanted`, or the limit passes. Every picture seen
    // must be upright: white band at the top.
    //
    // Started without a size, a slot writes straight into the drawn texture,
    // bottom row first: a look during the very first picture can find its
    // lower rows in place above rows never written. Only looks after a
    // complete picture are judged; a later picture half-written over an
    // earlier one still shows a white band.
    std::string watchFor(GLuint texture, const std::string& wanted, std::chrono::seconds limit)
    {
        std::string seen;
        const Clock::time_point end = Clock::now() + limit;
        while (seen.find(wanted) == std::string::npos && Clock::now() < end) {
            const bool had_picture = player && player->getPictureCount(1) > 0;
            const auto [picture, band] = look(texture);
            if (picture != '?' && had_picture) {
                EXPECT_EQ(band, 'W') << "picture " << picture << " is not upright";
                if (seen.empty() || seen.back() != picture)
                    seen += picture;
            }
            std::this_thread::sleep_for(5ms);
        }
        return seen;
    }

    static void waitForPictures(const VideoPlayer& p, int id, long count)
    {
        const Clock::time_point end = Clock::now() + 30s;
        while (p.getPictureCount(id) < count && Clock::now() < end)
            std::this_thread::sleep_for(10ms);
    }

    TempDir dir;
    std::string clip;
    std::unique_ptr<VideoPlayer> player;
    std::vector<GLuint> textures;
};

TEST_F(VideoPlayerTest, PlaysUprightKeepsChangingAndRepeatsWhateverTheFileLength)
{
    struct Case {
        const char* what;
        long multiple; // pad the clip with zero bytes to a multiple of this; 1: as made
        const char* container = nullptr; // made as this file instead: name, then ffmpeg options
        const char* options = nullptr;
    };
    const Case cases[] = {
        {"clip as made", 1},
        {"exactly one input buffer long", 81920},
        {"exactly two input buffers long", 2 * 81920},
        {"MP4 file", 1, "clip.mp4", "-c:v libx264 -pix_fmt yuv420p -f mp4"},
        {"MKV file with B pictures", 1, "clip.mkv", "-c:v libx264 -pix_fmt yuv420p -bf 3 -f matroska"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = dir.file(std::string("case") + std::to_string(c.multiple) + ".h264");
        if (c.container != nullptr) {
            file = dir.file(c.container);
            ASSERT_TRUE(makeClip(file, kVideoWidth, kVideoHeight, 25,
                                 {{255, 0, 0, 10}, {0, 255, 0, 10}, {0, 0, 255, 10}}, c.options));
        } else {
            std::ofstream(file, std::ios::binary) << readFile(clip);
            const long length = padFileToMultiple(file, c.multiple);
            if (c.multiple > 1) {
                ASSERT_EQ(length, c.multiple);
            }
        }

        VideoPlayer& p = makePlayer();
        GLuint texture = makeVideoTexture();
        ASSERT_EQ(p.startFreePlayer(file, &texture), 1);
        // Red, green, blue, and the same again after the end of the file.
        const std::string seen = watchFor(texture, "RGBRGB", 60s);
        EXPECT_NE(seen.find("RGBRGB"), std::string::npos) << "colours seen: " << seen;
        EXPECT_GT(p.getPictureCount(1), 30);
        EXPECT_FALSE(p.playbackFailed(1));
        p.stopPlayer(1);
        EXPECT_FALSE(p.playbackFailed(1)) << "a stop is no failure";
        player.reset();
    }
}

// The texture has one size; the stream goes 640x480 (red) then 320x240
// (green). Every picture must be shown whole, scaled into the texture.
TEST_F(VideoPlayerTest, EveryPictureIsScaledWholeIntoTheTextureWhateverSizeTheStreamHas)
{
    const std::string large = dir.file("large.h264");
    const std::string small = dir.file("small.h264");
    ASSERT_TRUE(makeH264Clip(large, 640, 480, 25, {{255, 0, 0, 10}}));
    ASSERT_TRUE(makeH264Clip(small, 320, 240, 25, {{0, 255, 0, 10}}));
    const std::string file = dir.write("changing.h264", readFile(large) + readFile(small));

    VideoPlayer& p = makePlayer();
    GLuint texture = 0;
    glGenTextures(1, &texture);
    textures.push_back(texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 160, 120, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    ASSERT_EQ(p.startFreePlayer(file, &texture, 160, 120), 1);
    // watchFor checks the white band at the top of every picture: a picture
    // cut or placed in a corner would miss it.
    const std::string seen = watchFor(texture, "RGRG", 60s);
    EXPECT_NE(seen.find("RGRG"), std::string::npos) << "colours seen: " << seen;
    p.stopPlayer(1);
}

// Where the renderer pauses halfway through writing a picture, the test
// draws and reads back: the moment a frame would show parts of two pictures.
struct HalfWritten {
    std::mutex mutex;
    std::condition_variable changed;
    int pauses = 0;   // pauses begun by the renderer
    int releases = 0; // pauses ended by the test
    bool done = false;
};
HalfWritten* half_written = nullptr;

void pauseHalfWritten()
{
    std::unique_lock<std::mutex> lock(half_written->mutex);
    const int pause = ++half_written->pauses;
    half_written->changed.notify_all();
    half_written->changed.wait_for(
        lock, 10s, [&] { return half_written->done || half_written->releases >= pause; });
}

TEST_F(VideoPlayerTest, NoDrawnFrameShowsPartsOfTwoPicturesEvenWhileOneIsHalfWritten)
{
    // Every picture a colour other than the one before.
    std::vector<ClipSegment> segments;
    for (int i = 0; i < 10; ++i)
        for (const ClipSegment& s : {ClipSegment{255, 0, 0, 1}, ClipSegment{0, 255, 0, 1},
                                     ClipSegment{0, 0, 255, 1}})
            segments.push_back(s);
    const std::string file = dir.file("changing.h264");
    ASSERT_TRUE(makeH264Clip(file, kVideoWidth, kVideoHeight, 25, segments));

    HalfWritten rendezvous;
    half_written = &rendezvous;
    EglRenderComponent::setPauseInsidePicture(&pauseHalfWritten);
    VideoPlayer& p = makePlayer();
    GLuint texture = makeVideoTexture();
    ASSERT_EQ(p.startFreePlayer(file, &texture, kVideoWidth, kVideoHeight), 1);
    std::string shown;
    for (int pause = 0; pause < 15; ++pause) {
        {
            std::unique_lock<std::mutex> lock(rendezvous.mutex);
            ASSERT_TRUE(rendezvous.changed.wait_for(lock, 30s, [&] { return rendezvous.pauses > pause; }));
        }
        drawTexture(p.currentTexture(1, texture));
        // Below the white band, from top to bottom: one colour only.
        std::string column;
        for (int y = gl.height() * 3 / 8; y < gl.height(); ++y) {
            const char c = classify(gl.pixelAt(gl.width() / 2, y));
            if (column.empty() || column.back() != c)
                column += c;
        }
        EXPECT_EQ(column.size(), 1u) << "pause " << pause << " shows " << column;
        shown += column;
        {
            std::lock_guard<std::mutex> lock(rendezvous.mutex);
            rendezvous.releases = pause + 1;
        }
        rendezvous.changed.notify_all();
    }
    EglRenderComponent::setPauseInsidePicture(nullptr);
    {
        std::lock_guard<std::mutex> lock(rendezvous.mutex);
        rendezvous.done = true;
    }
    rendezvous.changed.notify_all();
    p.stopPlayer(1);
    player.reset();
    half_written = nullptr;
    // The pictures drawn did change: at most one frame behind the renderer.
    EXPECT_NE(shown.find_first_of("RGB"), std::string::npos) << shown;
    EXPECT_GE(std::set<char>(shown.begin(), shown.end()).size(), 3u) << "shown: " << shown;
}

// Streams that never give a picture end by themselves within the bounds,
// release their decoder and say so; the texture is never written.
TEST_F(VideoPlayerTest, AStreamWithoutPicturesEndsOnItsOwnAndReleasesItsDecoder)
{
    std::mt19937 random(5);
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const std::string mp4 = dir.file("clip.mp4");
    const std::string hevc = dir.file("clip.hevc");
    ASSERT_TRUE(makeClip(mp4, 320, 240, 25, {{255, 0, 0, 25}}, "-c:v libx264 -pix_fmt yuv420p -f mp4"));
    ASSERT_TRUE(makeClip(hevc, 320, 240, 25, {{255, 0, 0, 25}},
                         "-c:v libx265 -x265-params log-level=error -f hevc"));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"random bytes", noise},
        {"an MP4 file named .h264", readFile(mp4)},
        {"an HEVC stream named .h264", readFile(hevc)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.write("bad.h264", c.bytes);
        VideoPlayer& p = makePlayer();
        GLuint texture = makeVideoTexture();
        ASSERT_EQ(p.startFreePlayer(file, &texture), 1);
        const Clock::time_point end = Clock::now() + 60s;
        while (!p.playbackFailed(1) && Clock::now() < end)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(p.playbackFailed(1));
        EXPECT_EQ(VideoDecodeComponent::decodingThreadsInUse(), 0) << "the decoder is released";
        EXPECT_EQ(p.getPictureCount(1), 0);
        EXPECT_EQ(look(texture).first, '?');
        p.stopPlayer(1);
        player.reset();
    }
}

TEST_F(VideoPlayerTest, ThreeSlotsAtMostForTheLifeOfThePlayerAndOddNumbersAreIgnored)
{
    VideoPlayer& p = makePlayer();
    GLuint t1 = makeVideoTexture(), t2 = makeVideoTexture(), t3 = makeVideoTexture(),
           t4 = makeVideoTexture();
    EXPECT_EQ(p.startFreePlayer(clip, &t1), 1);
    EXPECT_EQ(p.startFreePlayer(clip, &t2), 2);
    EXPECT_EQ(p.startFreePlayer(clip, &t3), 3);
    EXPECT_EQ(p.startFreePlayer(clip, &t4), 0);
    EXPECT_EQ(t4, textures.back()) << "the texture name is never changed";

    for (int odd : {0, 4, -1})
        p.stopPlayer(odd);
    for (int id : {1, 2, 3}) {
        const long before = p.getPictureCount(id);
        waitForPictures(p, id, before + 5);
        EXPECT_GE(p.getPictureCount(id), before + 5) << "slot " << id << " stopped playing";
    }
    EXPECT_EQ(p.getPictureCount(0), 0);
    EXPECT_EQ(p.getPictureCount(4), 0);

    p.stopPlayer(2);
    const long stopped_at = p.getPictureCount(2);
    EXPECT_EQ(p.startFreePlayer(clip, &t4), 0) << "a stopped slot is not given out again";
    waitForPictures(p, 1, p.getPictureCount(1) + 5);
    EXPECT_EQ(p.getPictureCount(2), stopped_at);
}

TEST_F(VideoPlayerTest, StopWhileWaitingForTheFirstPictureReturnsAndLeavesTheTextureAlone)
{
    std::mt19937 random(11);
    std::string garbage(400000, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    const std::string file = dir.write("garbage.h264", garbage);

    VideoPlayer& p = makePlayer();
    GLuint texture = makeVideoTexture();
    ASSERT_EQ(p.startFreePlayer(file, &texture), 1);
    std::this_thread::sleep_for(300ms);
    const Clock::time_point before = Clock::now();
    p.stopPlayer(1);
    EXPECT_LT(Clock::now() - before, 15s);
    EXPECT_EQ(p.getPictureCount(1), 0);
    EXPECT_EQ(look(texture).first, '?');
}

TEST_F(VideoPlayerTest, SendStopSignalThenStopPlayerOnEachSlotReturns)
{
    VideoPlayer& p = makePlayer();
    for (int id : {1, 2, 3}) {
        GLuint texture = makeVideoTexture();
        ASSERT_EQ(p.startFreePlayer(clip, &texture), id);
    }
    for (int id : {1, 2, 3})
        waitForPictures(p, id, 3);
    p.sendStopSignal();
    const Clock::time_point before = Clock::now();
    for (int id : {1, 2, 3})
        p.stopPlayer(id);
    EXPECT_LT(Clock::now() - before, 15s);
    const long counts[] = {p.getPictureCount(1), p.getPictureCount(2), p.getPictureCount(3)};
    std::this_thread::sleep_for(200ms);
    for (int id : {1, 2, 3}) {
        EXPECT_GE(counts[id - 1], 3);
        EXPECT_EQ(p.getPictureCount(id), counts[id - 1]) << "slot " << id << " still plays";
    }
}

TEST_F(VideoPlayerTest, DestroyingThePlayerWithThreeSlotsPlayingReturns)
{
    VideoPlayer& p = makePlayer();
    for (int id : {1, 2, 3}) {
        GLuint texture = makeVideoTexture();
        ASSERT_EQ(p.startFreePlayer(clip, &texture), id);
    }
    waitForPictures(p, 3, 3);
    const Clock::time_point before = Clock::now();
    player.reset();
    EXPECT_LT(Clock::now() - before, 15s);
}

TEST_F(VideoPlayerTest, ATextureSmallerThanTheVideoKeepsItsContentAndPlaybackGoesOn)
{
    VideoPlayer& p = makePlayer();
    GLuint texture = 0;
    glGenTextures(1, &texture);
    textures.push_back(texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    const std::vector<uint8_t> white(160 * 120 * 4, 0xff);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 160, 120, 0, GL_RGBA, GL_UNSIGNED_BYTE, white.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    ASSERT_EQ(p.startFreePlayer(clip, &texture), 1);
    waitForPictures(p, 1, 10);
    EXPECT_GE(p.getPictureCount(1), 10);
    EXPECT_EQ(look(texture).first, 'W') << "the picture does not fit and is not written";
    p.stopPlayer(1);
}

TEST_F(VideoPlayerTest, ImageThatCannotBeMadeEndsTheProcessWithItsMessage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VideoPlayer& p = makePlayer();
    GLuint good = makeVideoTexture();
    GLuint missing = 4242; // no such texture
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            p.startFreePlayer(clip, &good);
            p.startFreePlayer(clip, &missing);
        },
        ::testing::ExitedWithCode(1), "^eglCreateImageKHR2 failed\\.\n$");
}

// What the player handed to the decoder, in order: the first kKept buffers
// and the last one.
class FeedLog {
public:
    struct Buffer {
        OMX_U32 length;
        OMX_U32 flags;
        std::string bytes;
    };
    static constexpr size_t kKept = 12;

    void record(const OMX_BUFFERHEADERTYPE* header)
    {
        Buffer b{static_cast<OMX_U32>(header->nFilledLen), static_cast<OMX_U32>(header->nFlags),
                 std::string(reinterpret_cast<const char*>(header->pBuffer + header->nOffset),
                             header->nFilledLen)};
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (kept.size() < kKept)
                kept.push_back(b);
            last = b;
            ++total;
        }
        changed.notify_all();
    }

    void waitForKept()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, 30s, [&] { return kept.size() >= kKept; });
    }

    // The kept buffers and then the last one; empty if nothing came.
    std::vector<Buffer> buffers(bool wait_for_end)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, 30s, [&] {
            return !wait_for_end || (total > 0 && (last.flags & OMX_BUFFERFLAG_EOS) != 0);
        });
        std::vector<Buffer> result = kept;
        if (total > kept.size())
            result.push_back(last);
        return result;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Buffer> kept;
    Buffer last{};
    size_t total = 0;
};

// Stands in for "video_decode": logs every buffer the player submits and
// hands it straight back. It never learns a picture size, so the player
// stays in its first phase and just streams.
class RecordingDecoder : public OmxComponent {
public:
    explicit RecordingDecoder(FeedLog* feed_log)
        : OmxComponent("OMX.spectrafox.video_decode"), log(feed_log)
    {
        addPort({130, OMX_DirInput, OMX_PortDomainVideo, 4, 81920});
        addPort({131, OMX_DirOutput, OMX_PortDomainVideo});
        // Logged at the call itself: a buffer queued just before a port is
        // disabled goes back unprocessed.
        static_cast<OMX_COMPONENTTYPE*>(handle())->EmptyThisBuffer = &logAndQueue;
    }

protected:
    bool process() override
    {
        OMX_BUFFERHEADERTYPE* header = takeBuffer(130);
        if (header == nullptr)
            return false;
        returnBuffer(header);
        return true;
    }

    // The player asks for H.264 on the input port before streaming.
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override
    {
        const auto* format = static_cast<const OMX_VIDEO_PARAM_PORTFORMATTYPE*>(data);
        const bool h264_in = index == OMX_IndexParamVideoPortFormat &&
                             recordFits(data, sizeof(*format)) && format->nPortIndex == 130 &&
                             format->eCompressionFormat == OMX_VIDEO_CodingAVC;
        return h264_in ? OMX_ErrorNone : OMX_ErrorUnsupportedSetting;
    }

private:
    static OMX_ERRORTYPE logAndQueue(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
    {
        auto* self = static_cast<RecordingDecoder*>(fromHandle(handle));
        const OMX_ERRORTYPE result = self->emptyThisBuffer(header);
        if (result == OMX_ErrorNone)
            self->log->record(header);
        return result;
    }

    FeedLog* log;
};

class VideoPlayerFeedTest : public VideoPlayerTest {
protected:
    void SetUp() override
    {
        VideoPlayerTest::SetUp();
        real_decoder = OmxCore::registerComponent("OMX.spectrafox.video_decode", [this] {
            return static_cast<OmxComponent*>(new RecordingDecoder(log.get()));
        });
    }
    void TearDown() override
    {
        VideoPlayerTest::TearDown();
        OmxCore::registerComponent("OMX.spectrafox.video_decode", real_decoder);
    }

    OmxCore::Factory real_decoder;
    std::unique_ptr<FeedLog> log = std::make_unique<FeedLog>();
};

TEST_F(VideoPlayerFeedTest, FeedsTheFileRoundAndRoundWithStartTimeOnlyOnTheFirstBuffer)
{
    const long sizes[] = {200000, 2 * 81920, 81920, 1000};
    for (long size : sizes) {
        SCOPED_TRACE("file of " + std::to_string(size) + " bytes");
        std::string content(static_cast<size_t>(size), '\0');
        for (long i = 0; i < size; ++i)
            content[i] = static_cast<char>((i * 7 + i / 251) % 256);
        const std::string file = dir.write("pattern.h264", content);

        log = std::make_unique<FeedLog>(); // read by the next decode thread only
        FeedLog& feed = *log;
        VideoPlayer& p = makePlayer();
        GLuint texture = makeVideoTexture();
        ASSERT_EQ(p.startFreePlayer(file, &texture), 1);
        feed.waitForKept();
        p.stopPlayer(1);
        const std::vector<FeedLog::Buffer> fed = feed.buffers(true);
        ASSERT_EQ(fed.size(), FeedLog::kKept + 1);

        long offset = 0;
        for (size_t i = 0; i + 1 < fed.size(); ++i) {
            const long expected = std::min(81920L, size - offset);
            ASSERT_EQ(long(fed[i].length), expected) << "buffer " << i;
            EXPECT_EQ(fed[i].bytes, content.substr(offset, expected)) << "buffer " << i;
            EXPECT_EQ(fed[i].flags, OMX_U32(i == 0 ? OMX_BUFFERFLAG_STARTTIME
                                                   : OMX_BUFFERFLAG_TIME_UNKNOWN))
                << "buffer " << i;
            offset = (offset + expected) % size;
        }
        EXPECT_EQ(fed.back().length, 0u);
        EXPECT_EQ(fed.back().flags, OMX_U32(OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS));
        player.reset();
    }
}

TEST_F(VideoPlayerFeedTest, AnEmptyFileEndsPlaybackOnItsOwn)
{
    const std::string file = dir.write("empty.h264", "");
    VideoPlayer& p = makePlayer();
    GLuint texture = makeVideoTexture();
    ASSERT_EQ(p.startFreePlayer(file, &texture), 1);
    // No stop is asked for: after its bounded wait for a picture size the
    // thread sends the end of the stream and ends by itself.
    const std::vector<FeedLog::Buffer> fed = log->buffers(true);
    ASSERT_EQ(fed.size(), 1u);
    EXPECT_EQ(fed[0].length, 0u);
    EXPECT_EQ(fed[0].flags, OMX_U32(OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS));
    p.stopPlayer(1);
    EXPECT_EQ(p.getPictureCount(1), 0);
}

} // namespace

} // namespace Spectrafox::Test
