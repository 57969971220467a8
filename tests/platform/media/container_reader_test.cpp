// The byte stream a container gives out must decode to exactly the pictures
// that ffmpeg itself decodes from the file, and start again at the end.
#include "platform/media/container_reader.h"
#include "support/h264_clip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <sys/stat.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 30;

using Picture = std::string; // the Y, U and V planes of a yuv420p picture, packed

// What ffmpeg decodes from the file, picture by picture.
std::vector<Picture> decodedByFfmpeg(const TempDir& dir, const std::string& file)
{
    const std::string raw = dir.file("reference.yuv");
    EXPECT_TRUE(runFfmpeg("-i '" + file + "' -f rawvideo -pix_fmt yuv420p '" + raw + "'"));
    const std::string bytes = readFile(raw);
    const size_t size = kWidth * kHeight * 3 / 2;
    std::vector<Picture> pictures;
    for (size_t offset = 0; offset + size <= bytes.size(); offset += size)
        pictures.push_back(bytes.substr(offset, size));
    return pictures;
}

// An Annex B byte stream decoded with libavcodec's parser and decoder.
class StreamDecoder {
public:
    StreamDecoder()
    {
        codec = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        avcodec_open2(codec, avcodec_find_decoder(AV_CODEC_ID_H264), nullptr);
        parser = av_parser_init(AV_CODEC_ID_H264);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
    }
    ~StreamDecoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        av_parser_close(parser);
        avcodec_free_context(&codec);
    }

    void feed(const uint8_t* data, int size)
    {
        while (size > 0 || data == nullptr) {
            uint8_t* out = nullptr;
            int out_size = 0;
            const int used = av_parser_parse2(parser, codec, &out, &out_size, data, size,
                                              AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (out_size > 0)
                decode(out, out_size);
            if (data == nullptr)
                break;
            data += used;
            size -= used;
        }
    }

    void finish()
    {
        feed(nullptr, 0);
        avcodec_send_packet(codec, nullptr);
        receive();
    }

    std::vector<Picture> pictures;

private:
    void decode(uint8_t* data, int size)
    {
        packet->data = data;
        packet->size = size;
        avcodec_send_packet(codec, packet);
        receive();
    }

    void receive()
    {
        while (avcodec_receive_frame(codec, frame) == 0) {
            Picture p;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane == 0 ? frame->width : frame->width / 2;
                const int h = plane == 0 ? frame->height : frame->height / 2;
                for (int y = 0; y < h; ++y)
                    p.append(reinterpret_cast<const char*>(frame->data[plane] +
                                                           y * frame->linesize[plane]),
                             w);
            }
            pictures.push_back(p);
            av_frame_unref(frame);
        }
    }

    AVCodecContext* codec = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
};

// A moving test pattern, so that every picture differs from its neighbours.
bool makePattern(const std::string& path, const std::string& options)
{
    return runFfmpeg("-f lavfi -i testsrc=size=" + std::to_string(kWidth) + "x" +
                     std::to_string(kHeight) + ":rate=25:duration=" +
                     std::to_string(kFrames / 25.0) + " " + options + " '" + path + "'");
}

TEST(ContainerReaderTest, GivesPicturesIdenticalToFfmpegsOwnDecodeAndStartsAgainAtTheEnd)
{
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"clip.mp4", "-c:v libx264 -pix_fmt yuv420p -g 12 -f mp4"},
        {"clip.mov", "-c:v libx264 -pix_fmt yuv420p -g 12 -f mov"},
        {"clip.mkv", "-c:v libx264 -pix_fmt yuv420p -g 12 -bf 2 -f matroska"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.file(c.name);
        ASSERT_TRUE(makePattern(file, c.options));
        const std::vector<Picture> reference = decodedByFfmpeg(dir, file);
        ASSERT_EQ(reference.size(), size_t(kFrames));

        ContainerReader::Info info;
        ASSERT_TRUE(ContainerReader::probe(file, &info));
        EXPECT_EQ(info.width, kWidth);
        EXPECT_EQ(info.height, kHeight);
        EXPECT_TRUE(info.h264);

        ContainerReader reader;
        ASSERT_TRUE(reader.open(file));
        StreamDecoder decoder;
        // Odd-sized reads: pieces cut anywhere, as in the input buffers.
        std::vector<uint8_t> buffer(3001);
        while (decoder.pictures.size() < 2 * reference.size() + 5) {
            const size_t got = reader.read(buffer.data(), buffer.size());
            ASSERT_GT(got, 0u);
            decoder.feed(buffer.data(), static_cast<int>(got));
        }
        decoder.finish();
        for (size_t i = 0; i < 2 * reference.size(); ++i)
            ASSERT_TRUE(decoder.pictures[i] == reference[i % reference.size()])
                << "picture " << i << (i >= reference.size() ? " (second pass)" : "");
    }
}

TEST(ContainerReaderTest, RefusesWhatItCannotPlayWithoutBlocking)
{
    TempDir dir;
    ASSERT_TRUE(makePattern(dir.file("mpeg4.mp4"), "-c:v mpeg4 -f mp4"));
    ASSERT_TRUE(makePattern(dir.file("raw.h264"), "-c:v libx264 -pix_fmt yuv420p -f h264"));
    // H.264 that libavformat could read, in a container we do not take.
    ASSERT_TRUE(makePattern(dir.file("transport.mp4"), "-c:v libx264 -pix_fmt yuv420p -f mpegts"));
    std::mt19937 random(3);
    std::string noise(100000, '\0');
    for (char& ch : noise)
        ch = static_cast<char>(random());
    dir.write("noise.mp4", noise);
    dir.write("empty.mkv", "");
    ASSERT_EQ(mkfifo(dir.file("fifo.mp4").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file("folder.mp4").c_str(), 0700), 0);

    const struct {
        const char* name;
        bool probes;
        bool h264;
    } cases[] = {
        {"mpeg4.mp4", true, false}, // a video, but not H.264
        {"transport.mp4", false, false},
        {"noise.mp4", false, false},
        {"empty.mkv", false, false},
        {"fifo.mp4", false, false},
        {"folder.mp4", false, false},
        {"missing.mov", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ContainerReader::Info info;
        EXPECT_EQ(ContainerReader::probe(dir.file(c.name), &info), c.probes);
        EXPECT_EQ(info.h264, c.h264);
        ContainerReader reader;
        EXPECT_FALSE(reader.open(dir.file(c.name)));
        uint8_t byte = 0;
        EXPECT_EQ(reader.read(&byte, 1), 0u);
    }
    EXPECT_TRUE(ContainerReader::isContainerName("textures/001.mp4"));
    EXPECT_TRUE(ContainerReader::isContainerName("textures/001.mov"));
    EXPECT_TRUE(ContainerReader::isContainerName("textures/001.mkv"));
    EXPECT_FALSE(ContainerReader::isContainerName("textures/001.h264"));
    EXPECT_FALSE(ContainerReader::isContainerName("mp4"));
}

} // namespace
