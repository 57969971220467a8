#include "platform/media/first_picture.h"

#include "base/regular_file.h"
#include "platform/media/container_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <memory>

namespace Spectrafox {

namespace {

constexpr size_t kChunk = 65536;

// The stream's bytes, from a container or a raw file, chunk by chunk.
class StreamBytes {
public:
    explicit StreamBytes(const std::string& path)
    {
        if (ContainerReader::isContainerName(path)) {
            container_open = container.open(path);
            return;
        }
        fd = RegularFile::openForReading(path);
    }
    ~StreamBytes()
    {
        if (fd >= 0)
            ::close(fd);
    }
    StreamBytes(const StreamBytes&) = delete;
    StreamBytes& operator=(const StreamBytes&) = delete;

    // 0 at the end (a container repeats, so the caller bounds the total).
    size_t read(uint8_t* out, size_t room)
    {
        if (container_open)
            return container.read(out, room);
        if (fd < 0)
            return 0;
        const ssize_t got = ::read(fd, out, room);
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

private:
    ContainerReader container;
    bool container_open = false;
    int fd = -1;
};

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

bool toRgba(const AVFrame* frame, std::vector<uint8_t>* rgba)
{
    SwsContext* scaler = sws_getContext(frame->width, frame->height,
                                        static_cast<AVPixelFormat>(frame->format), frame->width,
                                        frame->height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr);
    if (scaler == nullptr)
        return false;
    rgba->assign(static_cast<size_t>(frame->width) * frame->height * 4, 0);
    uint8_t* planes[1] = {rgba->data()};
    const int strides[1] = {frame->width * 4};
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(scaler);
    return true;
}

// Sends one parsed packet (null: drain) and takes a picture if one is ready.
bool decodePacket(AVCodecContext* codec, AVPacket* packet, AVFrame* frame)
{
    if (avcodec_send_packet(codec, packet) < 0 && packet != nullptr)
        return false;
    return avcodec_receive_frame(codec, frame) == 0;
}

} // namespace

bool FirstPicture::decode(const std::string& path, std::vector<uint8_t>* rgba, int* width,
                          int* height)
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (decoder == nullptr)
        return false;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(decoder));
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(AV_CODEC_ID_H264));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!codec || !parser || !frame || !packet)
        return false;
    codec->thread_count = 1; // the start-up workers already use every core
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return false;
    StreamBytes stream(path);
    std::vector<uint8_t> chunk(kChunk + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    bool got = false;
    for (size_t total = 0; !got && total < kMostBytes;) {
        const size_t length = stream.read(chunk.data(), kChunk);
        total += length;
        const uint8_t* data = chunk.data();
        int left = static_cast<int>(length);
        // An empty read flushes the parser's last unit.
        do {
            uint8_t* out = nullptr;
            int out_size = 0;
            const int used = av_parser_parse2(parser.get(), codec.get(), &out, &out_size, data,
                                              left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                break;
            data += used;
            left -= used;
            if (out_size > 0) {
                packet->data = out;
                packet->size = out_size;
                got = decodePacket(codec.get(), packet.get(), frame.get());
            }
        } while (left > 0 && !got);
        if (length == 0) {
            got = got || decodePacket(codec.get(), nullptr, frame.get());
            break;
        }
    }
    if (!got || frame->width <= 0 || frame->height <= 0 || !toRgba(frame.get(), rgba))
        return false;
    *width = frame->width;
    *height = frame->height;
    return true;
}

} // namespace Spectrafox
