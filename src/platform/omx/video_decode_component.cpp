#include "platform/omx/video_decode_component.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace Spectrafox {

namespace {
// Parsed packets that may wait for the decoder before input is held back.
constexpr size_t kMostQueuedPackets = 8;
// Bytes the parser may gather without finding the end of a picture; beyond
// that the input is no H.264 byte stream (a container, another codec) and
// what was gathered is dropped, so memory stays bounded.
constexpr long kLargestAccessUnit = 8L << 20;
// Packets after which a decoder that gave no picture is flushed: far more than
// any real stream sends ahead of its first picture (frame threads included).
constexpr int kMostPacketsWithoutPicture = 256;
constexpr int kMostUnitsPerPacket = 1024;
// Software decoding threads: all decoders together use no more threads than
// there are cores (but at least one each), keeping one core for each of the
// three video slots that has no decoder yet; one decoder takes at most four.
constexpr int kVideoSlots = 3;
constexpr int kMostThreadsPerDecoder = 4;

struct ThreadBudget {
    std::mutex mutex;
    int threads_taken = 0;
    int decoders = 0;
};

ThreadBudget& threadBudget()
{
    static ThreadBudget budget;
    return budget;
}

int takeDecodingThreads()
{
    ThreadBudget& budget = threadBudget();
    std::lock_guard<std::mutex> lock(budget.mutex);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int kept_for_others = std::max(0, kVideoSlots - 1 - budget.decoders);
    const int granted =
        std::clamp(cores - budget.threads_taken - kept_for_others, 1, kMostThreadsPerDecoder);
    budget.threads_taken += granted;
    ++budget.decoders;
    return granted;
}

void giveBackDecodingThreads(int count)
{
    ThreadBudget& budget = threadBudget();
    std::lock_guard<std::mutex> lock(budget.mutex);
    budget.threads_taken -= count;
    --budget.decoders;
}

constexpr int64_t kDefaultFrameDurationUs = 40000;
constexpr const char* kHardwareDecoder = "h264_v4l2m2m";
constexpr const char* kSoftwareDecoder = "h264";
} // namespace

VideoDecodeComponent::VideoDecodeComponent()
    : OmxComponent(std::string("OMX.spectrafox.video_decode"))
{
    addPort({kInputPort, OMX_DirInput, OMX_PortDomainVideo, kInputBufferCount, kInputBufferSize});
    addPort({kOutputPort, OMX_DirOutput, OMX_PortDomainVideo});
}

int64_t VideoDecodeComponent::frameDurationUs(AVRational frame_rate)
{
    // Rates outside 1 to 240 pictures per second are taken as missing.
    if (frame_rate.num <= 0 || frame_rate.den <= 0 || frame_rate.num > 240LL * frame_rate.den ||
        frame_rate.num < frame_rate.den)
        return kDefaultFrameDurationUs;
    return (1000000LL * frame_rate.den + frame_rate.num / 2) / frame_rate.num;
}

OMX_ERRORTYPE VideoDecodeComponent::setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data)
{
    if (index != OMX_IndexParamVideoPortFormat)
        return OMX_ErrorUnsupportedIndex;
    if (!recordFits(data, sizeof(OMX_VIDEO_PARAM_PORTFORMATTYPE)))
        return OMX_ErrorBadParameter;
    const auto* format = static_cast<const OMX_VIDEO_PARAM_PORTFORMATTYPE*>(data);
    if (format->nPortIndex != kInputPort)
        return OMX_ErrorBadPortIndex;
    if (format->eCompressionFormat != OMX_VIDEO_CodingAVC)
        return OMX_ErrorUnsupportedSetting;
    return OMX_ErrorNone;
}

bool VideoDecodeComponent::acquireResources()
{
    if (!openDecoder(kHardwareDecoder) && !openDecoder(kSoftwareDecoder))
        return false;
    frame = av_frame_alloc();
    if (frame == nullptr || !openParser()) {
        releaseResources();
        return false;
    }
    return true;
}

bool VideoDecodeComponent::openDecoder(const char* name)
{
    const AVCodec* decoder = avcodec_find_decoder_by_name(name);
    if (decoder == nullptr)
        return false;
    codec = avcodec_alloc_context3(decoder);
    if (codec == nullptr)
        return false;
    if ((decoder->capabilities & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS)) != 0) {
        threads_granted = takeDecodingThreads();
        codec->thread_count = threads_granted;
        codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        avcodec_free_context(&codec);
        giveBackThreads();
        return false;
    }
    return true;
}

void VideoDecodeComponent::giveBackThreads()
{
    if (threads_granted == 0)
        return;
    giveBackDecodingThreads(threads_granted);
    threads_granted = 0;
}

int VideoDecodeComponent::decodingThreadsInUse()
{
    ThreadBudget& budget = threadBudget();
    std::lock_guard<std::mutex> lock(budget.mutex);
    return budget.threads_taken;
}

bool VideoDecodeComponent::openParser()
{
    parser = av_parser_init(AV_CODEC_ID_H264);
    return parser != nullptr;
}

void VideoDecodeComponent::closeParser()
{
    if (parser != nullptr)
        av_parser_close(parser);
    parser = nullptr;
}

void VideoDecodeComponent::releaseResources()
{
    dropQueuedWork();
    closeParser();
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    giveBackThreads();
}

void VideoDecodeComponent::dropQueuedWork()
{
    for (AVPacket* packet : packets)
        av_packet_free(&packet);
    packets.clear();
    pending = OmxPicture();
    has_pending = false;
}

void VideoDecodeComponent::onFlush(OMX_U32 port)
{
    if (port == kOutputPort) {
        pending = OmxPicture();
        has_pending = false;
        return;
    }
    dropQueuedWork();
    if (codec != nullptr)
        avcodec_flush_buffers(codec);
    if (parser != nullptr) {
        closeParser();
        openParser();
    }
}

bool VideoDecodeComponent::process()
{
    bool progressed = false;
    if (has_pending && sendPicture(kOutputPort, pending)) {
        pending = OmxPicture();
        has_pending = false;
        progressed = true;
    }
    progressed = decodeQueued() || progressed;
    if (packets.size() >= kMostQueuedPackets)
        return progressed;
    OMX_BUFFERHEADERTYPE* header = takeBuffer(kInputPort);
    if (header == nullptr)
        return progressed;
    parseBuffer(header);
    // Decoding before the buffer goes back puts a size announcement ahead of
    // the return of the buffer that brought the first picture.
    decodeQueued();
    header->nFilledLen = 0;
    header->nOffset = 0;
    returnBuffer(header);
    return true;
}

void VideoDecodeComponent::parseBuffer(const OMX_BUFFERHEADERTYPE* header)
{
    if (parser == nullptr)
        return;
    const OMX_U32 offset = std::min(header->nOffset, header->nAllocLen);
    const uint8_t* data = header->pBuffer + offset;
    int left = static_cast<int>(std::min(header->nFilledLen, header->nAllocLen - offset));
    while (left > 0) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int used = av_parser_parse2(parser, codec, &out, &out_size, data, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || (used == 0 && out_size == 0))
            break;
        if (out_size > 0) {
            bytes_since_packet = 0;
            units_since_packet = 0;
        } else {
            bytes_since_packet += used;
            units_since_packet += unitsIn(data, used);
        }
        data += used;
        left -= used;
        queuePacket(out, out_size);
        // Gathering more than any picture holds: not H.264, or units without
        // a picture (the parser would also parse every one at the end).
        if (bytes_since_packet > kLargestAccessUnit || units_since_packet > kMostUnitsPerPacket) {
            closeParser();
            openParser();
            bytes_since_packet = 0;
            units_since_packet = 0;
        }
    }
    if ((header->nFlags & OMX_BUFFERFLAG_EOS) == 0)
        return;
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(parser, codec, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    queuePacket(out, out_size);
    packets.push_back(nullptr);
    closeParser();
    openParser();
}

// A picture is made of a few hundred units at most; a packet of thousands
// holds noise or parameter sets without end ahead of the real picture, and
// libavcodec would keep memory for every one of those units. Only the last
// units are kept: the picture, with the parameter sets right before it.
// Returns where the kept part starts (size: nothing to keep).
int VideoDecodeComponent::plausibleStart(const uint8_t* data, int size)
{
    std::vector<int> starts;
    for (int i = 0; i + 2 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            starts.push_back(i);
    // Bytes ahead of the first start code belong to no unit at all.
    if (starts.empty())
        return size;
    if (starts.size() <= static_cast<size_t>(kMostUnitsPerPacket))
        return starts.front();
    return starts[starts.size() - kMostUnitsPerPacket];
}

int VideoDecodeComponent::unitsIn(const uint8_t* data, int size)
{
    int units = 0;
    for (int i = 0; i + 2 < size; ++i)
        units += data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
    return units;
}

void VideoDecodeComponent::queuePacket(const uint8_t* data, int size)
{
    if (size <= 0)
        return;
    const int start = plausibleStart(data, size);
    data += start;
    size -= start;
    if (size <= 0)
        return;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr)
        return;
    if (av_new_packet(packet, size) < 0) {
        av_packet_free(&packet);
        return;
    }
    std::copy(data, data + size, packet->data);
    packets.push_back(packet);
}

bool VideoDecodeComponent::decodeQueued()
{
    if (codec == nullptr)
        return false;
    bool progressed = false;
    while (!has_pending) {
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            keepDecodedPicture();
            return true;
        }
        if (received == AVERROR_EOF) {
            // Drained: the end of the stream follows the last picture, and
            // the decoder is ready for a new stream.
            avcodec_flush_buffers(codec);
            pending = OmxPicture();
            has_pending = true;
            return true;
        }
        if (packets.empty())
            return progressed;
        AVPacket* packet = packets.front();
        if (avcodec_send_packet(codec, packet) == AVERROR(EAGAIN))
            return progressed;
        // A packet the decoder rejects is dropped; the stream goes on.
        packets.pop_front();
        av_packet_free(&packet);
        progressed = true;
        // The decoder keeps state for packets that never complete a picture
        // (parameter sets over and over, noise): start it afresh now and then.
        if (++packets_without_picture > kMostPacketsWithoutPicture) {
            avcodec_flush_buffers(codec);
            packets_without_picture = 0;
        }
    }
    return progressed;
}

void VideoDecodeComponent::keepDecodedPicture()
{
    packets_without_picture = 0;
    std::shared_ptr<AVFrame> picture(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    if (!picture) {
        av_frame_unref(frame);
        return;
    }
    av_frame_move_ref(picture.get(), frame);
    pending.frame = picture;
    pending.duration_us = frameDurationUs(codec->framerate);
    has_pending = true;
    if (picture->width == announced_width && picture->height == announced_height)
        return;
    announced_width = picture->width;
    announced_height = picture->height;
    setFrameSize(kOutputPort, announced_width, announced_height);
    raiseEvent(OMX_EventPortSettingsChanged, kOutputPort, OMX_IndexParamPortDefinition);
}

} // namespace Spectrafox
