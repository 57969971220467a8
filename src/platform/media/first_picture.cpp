#include "platform/media/first_picture.h"

#include "platform/media/clip_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <memory>

namespace Spectrafox {

namespace {

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Packets from the start of the clip until a picture comes, at most
// kMostBytes of them; false when none came.
bool decodeFirst(ClipReader& reader, AVCodecContext* codec, AVPacket* packet, AVFrame* frame)
{
    for (size_t total = 0; total < FirstPicture::kMostBytes;) {
        if (!reader.read(packet)) {
            avcodec_send_packet(codec, nullptr);
            return avcodec_receive_frame(codec, frame) == 0;
        }
        total += static_cast<size_t>(packet->size);
        avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        if (avcodec_receive_frame(codec, frame) == 0)
            return true;
    }
    return false;
}

} // namespace

DecodedPicture FirstPicture::decode(const std::string& path)
{
    ClipReader reader;
    if (!reader.open(path, ClipReader::Indexing::Sequential))
        return nullptr;
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (decoder == nullptr)
        return nullptr;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(decoder));
    DecodedPicture frame(av_frame_alloc(), FrameDeleter());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!codec || !frame || !packet ||
        avcodec_parameters_to_context(codec.get(), reader.codecParameters()) < 0)
        return nullptr;
    codec->thread_count = 1; // the start-up workers already use every core
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return nullptr;
    if (!decodeFirst(reader, codec.get(), packet.get(), frame.get()) || frame->width <= 0 ||
        frame->height <= 0)
        return nullptr;
    return frame;
}

} // namespace Spectrafox
