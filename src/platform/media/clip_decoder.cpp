#include "platform/media/clip_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <mutex>
#include <thread>

namespace Spectrafox {

namespace {

constexpr const char* kHardwareDecoder = "h264_v4l2m2m";
constexpr const char* kSoftwareDecoder = "h264";
constexpr AVRational kMicroseconds{1, 1000000};
// A container seek that lands after the picture asked for starts this much
// earlier, doubling, until it lands before it.
constexpr int64_t kFirstSeekBackUs = 1000000;

// Software decoding threads: all decoders together use no more threads than
// there are cores (but at least one each), keeping one core for each decoder
// expected that has none yet.
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

int takeDecodingThreads(int expected_decoders)
{
    ThreadBudget& budget = threadBudget();
    std::lock_guard<std::mutex> lock(budget.mutex);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int kept_for_others = std::max(0, expected_decoders - 1 - budget.decoders);
    const int granted = std::clamp(cores - budget.threads_taken - kept_for_others, 1,
                                   ClipDecoder::kMostThreadsPerDecoder);
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

// The board decoder's frames stay DRM PRIME buffers where they are to be
// imported as they are; otherwise the first format that lives in memory.
AVPixelFormat pickFormat(const AVPixelFormat* offered, bool keep_prime)
{
    AVPixelFormat in_memory = AV_PIX_FMT_NONE;
    for (const AVPixelFormat* f = offered; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_DRM_PRIME && keep_prime)
            return *f;
        if (in_memory == AV_PIX_FMT_NONE && *f != AV_PIX_FMT_DRM_PRIME)
            in_memory = *f;
    }
    return in_memory;
}

AVPixelFormat keepingPrimeFrames(AVCodecContext*, const AVPixelFormat* offered)
{
    return pickFormat(offered, true);
}

AVPixelFormat inMemory(AVCodecContext*, const AVPixelFormat* offered)
{
    return pickFormat(offered, false);
}

DecodedPicture adopt(AVFrame* from)
{
    DecodedPicture picture(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    if (picture)
        av_frame_move_ref(picture.get(), from);
    else
        av_frame_unref(from);
    return picture;
}

} // namespace

ClipDecoder::ClipDecoder() = default;

ClipDecoder::~ClipDecoder() { close(); }

bool ClipDecoder::open(const std::string& path, const Options& options)
{
    close();
    keep_going = options.keep_going;
    if (!reader.open(path, ClipReader::Indexing::Full, keep_going))
        return false;
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    if (frame == nullptr || packet == nullptr ||
        (!openDecoder(kHardwareDecoder, options) && !openDecoder(kSoftwareDecoder, options))) {
        close();
        return false;
    }
    hardware = std::string(codec->codec->name) == kHardwareDecoder;
    return true;
}

bool ClipDecoder::openDecoder(const char* name, const Options& options)
{
    const AVCodec* decoder = avcodec_find_decoder_by_name(name);
    if (decoder == nullptr)
        return false;
    codec = avcodec_alloc_context3(decoder);
    if (codec == nullptr ||
        avcodec_parameters_to_context(codec, reader.codecParameters()) < 0) {
        avcodec_free_context(&codec);
        return false;
    }
    codec->pkt_timebase = kMicroseconds;
    codec->get_format = options.keep_hardware_frames ? keepingPrimeFrames : inMemory;
    if ((decoder->capabilities & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS)) != 0) {
        threads_granted = takeDecodingThreads(options.expected_decoders);
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

void ClipDecoder::giveBackThreads()
{
    if (threads_granted == 0)
        return;
    giveBackDecodingThreads(threads_granted);
    threads_granted = 0;
}

void ClipDecoder::close()
{
    avcodec_free_context(&codec);
    giveBackThreads();
    av_frame_free(&frame);
    av_packet_free(&packet);
    reader.close();
    passed.reset();
    draining = false;
    wanted_us = 0;
    last_given_us = -1;
    just_seeked = false;
    seek_back_us = 0;
    bytes_without_picture = 0;
    gave_picture = false;
    hardware = false;
}

int ClipDecoder::decodingThreadsInUse()
{
    ThreadBudget& budget = threadBudget();
    std::lock_guard<std::mutex> lock(budget.mutex);
    return budget.threads_taken;
}

bool ClipDecoder::keepGoing() const { return keep_going == nullptr || keep_going->load(); }

void ClipDecoder::seek(int64_t target_us)
{
    if (codec == nullptr)
        return;
    // Snapped to the picture showing then: a time late in a picture, or
    // within the picture just given, would otherwise bring the next one.
    const int64_t target = timing().pictureShowingAt(target_us);
    const bool ahead = last_given_us >= 0 && last_given_us < target;
    wanted_us = target;
    seek_back_us = 0;
    if (ahead && !draining && reader.readingOnReaches(target))
        return; // decoding on is quicker than starting at a key picture
    restartAt(target);
}

void ClipDecoder::restartAt(int64_t us)
{
    reader.seekBefore(us);
    avcodec_flush_buffers(codec);
    draining = false;
    just_seeked = true;
    passed.reset();
}

ClipDecoder::Step ClipDecoder::next(DecodedPicture* picture)
{
    if (codec == nullptr)
        return Step::Failed;
    while (keepGoing()) {
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            if (take(picture))
                return Step::Picture;
            continue;
        }
        if (received == AVERROR_EOF) {
            // The clip ended before the picture asked for: the last one is nearest.
            *picture = std::move(passed);
            last_given_us = timing().lastPicture();
            if (*picture)
                return Step::Picture;
            return gave_picture ? Step::End : Step::Failed;
        }
        if (!feed())
            return Step::Failed;
    }
    return Step::Stopped;
}

// One packet to the decoder, or the end of the clip; false for a stream that
// gives no picture.
bool ClipDecoder::feed()
{
    if (draining)
        return true;
    if (!reader.read(packet)) {
        avcodec_send_packet(codec, nullptr);
        draining = true;
        return true;
    }
    if (!gave_picture) {
        bytes_without_picture += packet->size;
        if (bytes_without_picture > kMostBytesWithoutPicture) {
            av_packet_unref(packet);
            return false;
        }
    }
    // A packet the decoder rejects is dropped; the stream goes on.
    avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    return true;
}

// The decoded picture in `frame`, if it is the one asked for or later.
bool ClipDecoder::take(DecodedPicture* picture)
{
    int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = last_given_us < 0 ? 0 : last_given_us + timing().frame_us;
    frame->pts = pts;
    gave_picture = true;
    if (landedLate(pts)) {
        av_frame_unref(frame);
        return false;
    }
    // Within half a picture: container times and the steady rate differ by rounding.
    if (pts < wanted_us - timing().frame_us / 2) {
        passed = adopt(frame);
        return false;
    }
    passed.reset();
    last_given_us = pts;
    *picture = adopt(frame);
    return *picture != nullptr;
}

// A container's seek can land after the picture asked for (its index knows
// decoding times only): the seek starts again earlier.
bool ClipDecoder::landedLate(int64_t pts)
{
    if (!just_seeked)
        return false;
    just_seeked = false;
    if (pts <= wanted_us + timing().frame_us / 2 || wanted_us == 0 ||
        seek_back_us > timing().duration_us)
        return false;
    seek_back_us = seek_back_us == 0 ? kFirstSeekBackUs : seek_back_us * 2;
    restartAt(std::max<int64_t>(wanted_us - seek_back_us, 0));
    return true;
}

} // namespace Spectrafox
