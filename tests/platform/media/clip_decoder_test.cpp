// Every picture of a clip can be reached exactly, whatever its stream
// layout; what cannot be played is refused without blocking or growing.
#include "platform/media/clip_decoder.h"
#include "support/h264_clip.h"
#include "support/numbered_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <sys/stat.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

int numberOf(const DecodedPicture& picture)
{
    return numberInRow(picture->data[0] + picture->linesize[0] * (picture->height / 2),
                       picture->width);
}

// The number of the next picture, -2 at the end, -3 for a failure.
int nextNumber(ClipDecoder& decoder)
{
    DecodedPicture picture;
    switch (decoder.next(&picture)) {
    case ClipDecoder::Step::Picture: return numberOf(picture);
    case ClipDecoder::Step::End: return -2;
    default: return -3;
    }
}

TEST(ClipDecoderTest, LandsOnThePictureAskedForInEveryStreamLayout)
{
    TempDir dir;
    const struct {
        const char* name;
        NumberedClip clip;
    } layouts[] = {
        {"intra.h264", {50, 25, 1, 0, "h264"}},
        {"gop12.h264", {50, 25, 12, 2, "h264"}},
        {"gop50.h264", {50, 25, 50, 3, "h264"}},
        {"gop12.mp4", {50, 25, 12, 2, "mp4"}},
        {"gop10.mkv", {50, 25, 10, 2, "matroska"}},
        {"gop15.mov", {50, 30, 15, 2, "mov"}},
    };
    // Backwards, forwards within and across key pictures, the ends, and
    // beyond the end (the last picture).
    const int targets[] = {37, 3, 3, 49, 0, 24, 25, 11, 36, 13, 999};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::string file = dir.file(layout.name);
        ASSERT_TRUE(makeNumberedClip(file, layout.clip));
        ClipDecoder decoder;
        ASSERT_TRUE(decoder.open(file, ClipDecoder::Options{}));
        const int64_t frame_us = decoder.timing().frame_us;
        EXPECT_NEAR(static_cast<double>(frame_us), 1e6 / layout.clip.fps, 1.0);
        EXPECT_EQ(decoder.timing().duration_us, 50 * frame_us);
        for (int target : targets) {
            SCOPED_TRACE(target);
            decoder.seek(target * frame_us);
            const int landed = std::min(target, 49);
            EXPECT_EQ(nextNumber(decoder), landed);
            if (landed < 48) {
                EXPECT_EQ(nextNumber(decoder), landed + 1);
                EXPECT_EQ(nextNumber(decoder), landed + 2);
            }
        }
        // A time within a picture means that picture, the one just given too.
        for (int target : {30, 7}) {
            SCOPED_TRACE(target);
            decoder.seek(target * frame_us + frame_us * 3 / 4);
            EXPECT_EQ(nextNumber(decoder), target);
            decoder.seek(target * frame_us + frame_us / 4);
            EXPECT_EQ(nextNumber(decoder), target);
        }
        decoder.seek(47 * frame_us);
        EXPECT_EQ(nextNumber(decoder), 47);
        EXPECT_EQ(nextNumber(decoder), 48);
        EXPECT_EQ(nextNumber(decoder), 49);
        EXPECT_EQ(nextNumber(decoder), -2);
        decoder.seek(0);
        EXPECT_EQ(nextNumber(decoder), 0) << "a seek after the end starts again";
    }
}

TEST(ClipDecoderTest, RefusesWhatItCannotPlayWithoutBlockingOrGrowing)
{
    TempDir dir;
    const std::string pattern = "-f lavfi -i testsrc=s=64x48:r=25:d=0.4 ";
    ASSERT_TRUE(runFfmpeg(pattern + "-c:v mpeg4 -f mp4 '" + dir.file("mpeg4.mp4") + "'"));
    // H.264 that libavformat could read, in a container we do not take.
    ASSERT_TRUE(runFfmpeg(pattern + "-c:v libx264 -f mpegts '" + dir.file("transport.mp4") + "'"));
    // A real MP4 under a raw stream's name is read as a raw stream.
    ASSERT_TRUE(runFfmpeg(pattern + "-c:v libx264 -f mp4 '" + dir.file("mp4.h264") + "'"));
    std::mt19937 random(3);
    std::string noise(3u << 20, '\0');
    for (char& ch : noise)
        ch = static_cast<char>(random());
    dir.write("noise.mp4", noise);
    dir.write("noise.h264", noise);
    dir.write("empty.mkv", "");
    dir.write("empty.h264", "");
    ASSERT_TRUE(writeParameterSetsOnly(dir.file("sets.h264"), 64, 48));
    ASSERT_EQ(mkfifo(dir.file("fifo.mp4").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.h264").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder.mp4").c_str(), 0700), 0);

    const struct {
        const char* name;
        bool probes; // as a container with a video stream
        bool h264;
    } cases[] = {
        {"mpeg4.mp4", true, false}, {"transport.mp4", false, false}, {"mp4.h264", false, false},
        {"noise.mp4", false, false}, {"noise.h264", false, false},   {"empty.mkv", false, false},
        {"empty.h264", false, false}, {"sets.h264", false, false},   {"fifo.mp4", false, false},
        {"fifo.h264", false, false}, {"folder.mp4", false, false},   {"missing.mov", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (ClipReader::isContainerName(c.name)) {
            ClipReader::Info info;
            EXPECT_EQ(ClipReader::probe(dir.file(c.name), &info), c.probes);
            EXPECT_EQ(info.h264, c.h264);
        }
        ClipDecoder decoder;
        if (!decoder.open(dir.file(c.name), ClipDecoder::Options{}))
            continue;
        // Opened as a stream of some sort: it gives no picture, and says so.
        DecodedPicture picture;
        EXPECT_EQ(decoder.next(&picture), ClipDecoder::Step::Failed);
    }
    EXPECT_TRUE(ClipReader::isContainerName("textures/001.mp4"));
    EXPECT_TRUE(ClipReader::isContainerName("textures/001.mov"));
    EXPECT_TRUE(ClipReader::isContainerName("textures/001.mkv"));
    EXPECT_FALSE(ClipReader::isContainerName("textures/001.h264"));
    EXPECT_FALSE(ClipReader::isContainerName("mp4"));
}

TEST(ClipDecoderTest, DecodingThreadsComeFromOneBudgetAndGoBack)
{
    TempDir dir;
    const std::string file = dir.file("clip.h264");
    ASSERT_TRUE(makeNumberedClip(file, NumberedClip{}));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(ClipDecoder::decodingThreadsInUse(), 0);
    {
        ClipDecoder decoders[3];
        for (ClipDecoder& d : decoders)
            ASSERT_TRUE(d.open(file, ClipDecoder::Options{3}));
        // Each has at least one; together no more than the cores, or one
        // each where there are fewer cores than decoders.
        const int in_use = ClipDecoder::decodingThreadsInUse();
        EXPECT_GE(in_use, 3);
        EXPECT_LE(in_use, std::max(cores, 3));
        decoders[0].close();
        EXPECT_LT(ClipDecoder::decodingThreadsInUse(), in_use);
    }
    EXPECT_EQ(ClipDecoder::decodingThreadsInUse(), 0);
}

} // namespace
