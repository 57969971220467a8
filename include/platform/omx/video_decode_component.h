#pragma once

#include "platform/omx/omx_component.h"

extern "C" {
#include <libavutil/rational.h>
}

struct AVCodecContext;
struct AVCodecParserContext;
struct AVPacket;

namespace Spectrafox {

// "video_decode": raw H.264 byte stream in on port 130, in client buffers
// cut anywhere; FFmpeg's parser finds the access units and libavcodec decodes
// them (the V4L2 memory-to-memory hardware decoder where one opens, the
// software decoder otherwise). Pictures leave on port 131 through the tunnel;
// OMX_EventPortSettingsChanged for port 131 announces the picture size, ahead
// of the return of the input buffer that completed the first picture.
//
// An input buffer is parsed whole and handed back at once; new buffers are
// taken only while few parsed packets wait, which paces the client. Input
// that never forms a picture is dropped as it comes, so memory stays bounded
// whatever is fed. The software decoder uses frame and slice threads from a
// budget of the machine's cores shared by all decoders.
class VideoDecodeComponent : public OmxComponent {
public:
    static constexpr OMX_U32 kInputPort = 130;
    static constexpr OMX_U32 kOutputPort = 131;
    static constexpr OMX_U32 kInputBufferCount = 4;
    static constexpr OMX_U32 kInputBufferSize = 81920;

    VideoDecodeComponent();

    // How long a picture shows at the stream's frame rate: 25 per second
    // when the stream gives no usable rate.
    static int64_t frameDurationUs(AVRational frame_rate);
    // Software decoding threads held by all decoders of the process.
    static int decodingThreadsInUse();

protected:
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    bool acquireResources() override;
    void releaseResources() override;
    void onFlush(OMX_U32 port) override;
    bool process() override;

private:
    bool openDecoder(const char* name);
    bool openParser();
    void closeParser();
    void parseBuffer(const OMX_BUFFERHEADERTYPE* header);
    void queuePacket(const uint8_t* data, int size);
    static int plausibleStart(const uint8_t* data, int size);
    static int unitsIn(const uint8_t* data, int size);
    bool decodeQueued();
    void keepDecodedPicture();
    void dropQueuedWork();
    void giveBackThreads();

    // Touched by the component's thread only.
    AVCodecContext* codec = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVFrame* frame = nullptr;
    std::deque<AVPacket*> packets; // a null entry drains the decoder
    OmxPicture pending;
    bool has_pending = false;
    int announced_width = 0;
    int announced_height = 0;
    long bytes_since_packet = 0;
    long units_since_packet = 0;
    int packets_without_picture = 0;
    int threads_granted = 0;
};

} // namespace Spectrafox
