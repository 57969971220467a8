#include "platform/media/clip_reader.h"

#include "platform/media/sequence_parameter_set.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
constexpr int kIoBufferSize = 65536;
// How far into a raw stream its parameter sets are looked for.
constexpr size_t kParameterSetSearchBytes = size_t{1} << 20;
// The demuxers a clip may need: MP4/MOV and Matroska/WebM, or raw H.264.
constexpr const char* kContainerDemuxers = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm";
constexpr const char* kRawDemuxer = "h264";
// What else a file under a raw stream's name may hold, for its size alone.
constexpr const char* kOtherVideoDemuxers = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,hevc";
constexpr AVRational kMicroseconds{1, 1000000};
constexpr int64_t kDefaultFrameUs = 40000;
// A container that does not say where its key pictures lie is read on for
// at most this far rather than seeked.
constexpr int64_t kReadOnWithoutIndexUs = 2000000;

// How long a picture shows at the stream's rate; 0 for a rate outside 1 to
// 240 per second, which is more often a time base than a rate.
int64_t frameDurationUs(AVRational rate)
{
    if (rate.num <= 0 || rate.den <= 0 || rate.num > 240LL * rate.den || rate.num < rate.den)
        return 0;
    return (1000000LL * rate.den + rate.num / 2) / rate.num;
}

// The stream's own rate; 0 when it gives none within the range.
int64_t streamFrameUs(const AVStream* video)
{
    const int64_t us = frameDurationUs(video->avg_frame_rate);
    return us != 0 ? us : frameDurationUs(video->r_frame_rate);
}

} // namespace

int64_t ClipTiming::nearestPicture(int64_t us) const
{
    const int64_t rounded = (std::max<int64_t>(us, 0) + frame_us / 2) / frame_us * frame_us;
    return std::min(rounded, lastPicture());
}

int64_t ClipTiming::pictureShowingAt(int64_t us) const
{
    return std::clamp<int64_t>(us / frame_us * frame_us, 0, lastPicture());
}

ClipReader::ClipReader() = default;

ClipReader::~ClipReader() { close(); }

bool ClipReader::isContainerName(const std::string& path)
{
    for (const char* suffix : {".mp4", ".mov", ".mkv"}) {
        const size_t length = std::strlen(suffix);
        if (path.size() >= length && path.compare(path.size() - length, length, suffix) == 0)
            return true;
    }
    return false;
}

bool ClipReader::probe(const std::string& path, Info* info)
{
    if (isContainerName(path))
        return probeAs(path, Demuxers::Containers, info);
    const bool raw_probed = probeAs(path, Demuxers::RawH264, info);
    if (raw_probed && info->width > 0 && info->height > 0)
        return true;
    // Another kind of video under a raw stream's name: its size, and that
    // it will not play as one.
    Info other;
    if (probeAs(path, Demuxers::OtherVideo, &other) && other.width > 0 && other.height > 0) {
        *info = other;
        info->h264 = false;
        return true;
    }
    return probeParameterSets(path, info) || raw_probed;
}

// Parameter sets without a picture that FFmpeg could look at: the size they
// declare, as if a picture followed.
bool ClipReader::probeParameterSets(const std::string& path, Info* info)
{
    std::vector<unsigned char> prefix;
    std::uint64_t file_size = 0;
    int width = 0;
    int height = 0;
    if (!RegularFile::readPrefix(path, kParameterSetSearchBytes, &prefix, &file_size) ||
        !SequenceParameterSet::sizeInStream(prefix, &width, &height))
        return false;
    info->width = width;
    info->height = height;
    info->h264 = true;
    return true;
}

bool ClipReader::probeAs(const std::string& path, Demuxers demuxers, Info* info)
{
    ClipReader reader;
    if (!reader.openFormat(path, demuxers, false))
        return false;
    const AVCodecParameters* video = reader.format->streams[reader.stream]->codecpar;
    info->width = video->width;
    info->height = video->height;
    info->h264 = video->codec_id == AV_CODEC_ID_H264;
    return true;
}

bool ClipReader::open(const std::string& path, Indexing how, const std::atomic<bool>* keep_going)
{
    close();
    file_path = path;
    indexing = how;
    raw = !isContainerName(path);
    keep_going_flag = keep_going;
    bool ready = openFormat(path, raw ? Demuxers::RawH264 : Demuxers::Containers,
                            raw && how == Indexing::Sequential) &&
                 format->streams[stream]->codecpar->codec_id == AV_CODEC_ID_H264;
    if (ready && raw && indexing == Indexing::Full)
        ready = indexRawStream(keep_going);
    else if (ready && !raw)
        timeContainer(keep_going);
    if (!ready)
        close();
    return ready;
}

// Through our own descriptor, so that the regular-file check and the reads
// see the same file.
bool ClipReader::openFormat(const std::string& path, Demuxers demuxers, bool quick)
{
    // FFmpeg's own messages would land on the console's terminal (and in the
    // journal) at every clip called; the slot's state says what went wrong.
    static const bool quiet = (av_log_set_level(AV_LOG_FATAL), true);
    (void)quiet;
    fd = RegularFile::openForReading(path);
    if (fd < 0)
        return false;
    opened = RegularFile::versionOf(fd);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr)
        return false;
    io = avio_alloc_context(buffer, kIoBufferSize, 0, this, &readFromFile, nullptr, &seekInFile);
    if (io == nullptr) {
        av_free(buffer);
        return false;
    }
    format = avformat_alloc_context();
    if (format == nullptr)
        return false;
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // A stop ends an open or a probe of slow media at its next read.
    format->interrupt_callback = AVIOInterruptCB{&ClipReader::stopAsked, this};
    const bool raw_stream = demuxers == Demuxers::RawH264;
    // A file under a raw stream's name is played as one, whatever it holds;
    // the other demuxers only tell a probe its size.
    format->format_whitelist = av_strdup(raw_stream                        ? kRawDemuxer
                                         : demuxers == Demuxers::Containers ? kContainerDemuxers
                                                                            : kOtherVideoDemuxers);
    if (format->format_whitelist == nullptr)
        return false;
    const AVInputFormat* forced = raw_stream ? av_find_input_format(kRawDemuxer) : nullptr;
    if (avformat_open_input(&format, nullptr, forced, nullptr) < 0) {
        format = nullptr; // freed by the failed open
        return false;
    }
    // A raw stream's first picture needs nothing the stream does not carry:
    // reading on to learn its rate would cost every slot at start-up.
    if (!quick && avformat_find_stream_info(format, nullptr) < 0)
        return false;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    return stream >= 0;
}

bool ClipReader::indexRawStream(const std::atomic<bool>* keep_going)
{
    raw_index = RawStreamIndex::of(opened, format, stream, keep_going);
    if (!raw_index)
        return false;
    // A raw stream has no times of its own: the rate its parameter sets
    // give, else 25 per second.
    const int64_t frame_us = streamFrameUs(format->streams[stream]);
    clip_timing.frame_us = frame_us != 0 ? frame_us : kDefaultFrameUs;
    clip_timing.duration_us = static_cast<int64_t>(raw_index->pictures.size()) * clip_timing.frame_us;
    next_raw = 0;
    return true;
}

// The video's length from the container's duration, or from the last
// picture's time plus its duration; its rate from the stream, or where that
// is out of range, from the pictures' times.
void ClipReader::timeContainer(const std::atomic<bool>* keep_going)
{
    const AVStream* video = format->streams[stream];
    start_time = video->start_time == AV_NOPTS_VALUE ? 0 : video->start_time;
    key_of_last_read_us = -1;
    ContainerSpan span{declaredDurationUs(), video->nb_frames, -1};
    int64_t frame_us = streamFrameUs(video);
    const bool untold = span.duration_us <= 0 || (frame_us == 0 && span.pictures <= 0);
    if (untold && indexing == Indexing::Full)
        span = scanPackets(frame_us, keep_going);
    if (frame_us == 0)
        frame_us = frameUsOf(span);
    clip_timing.frame_us = frame_us;
    const int64_t pictures = (span.duration_us + frame_us / 2) / frame_us;
    clip_timing.duration_us = std::max<int64_t>(pictures, 1) * frame_us;
}

// The video stream's duration, else the file's; 0 when neither is told.
int64_t ClipReader::declaredDurationUs() const
{
    const AVStream* video = format->streams[stream];
    if (video->duration != AV_NOPTS_VALUE && video->duration > 0)
        return av_rescale_q(video->duration, video->time_base, kMicroseconds);
    return format->duration != AV_NOPTS_VALUE ? std::max<int64_t>(format->duration, 0) : 0;
}

// Reads every packet of the video (no decoding) for the last picture's time
// and the number of pictures, then goes back to the start.
ClipReader::ContainerSpan ClipReader::scanPackets(int64_t frame_us, const std::atomic<bool>* keep_going)
{
    ContainerSpan span{0, 0, -1};
    int64_t last_duration_us = 0;
    AVPacket* packet = av_packet_alloc();
    while (packet != nullptr && (keep_going == nullptr || keep_going->load()) &&
           readContainer(packet)) {
        ++span.pictures;
        if (packet->pts != AV_NOPTS_VALUE && packet->pts >= span.last_pts_us) {
            span.last_pts_us = packet->pts;
            last_duration_us = av_rescale_q(packet->duration, format->streams[stream]->time_base,
                                            kMicroseconds);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (span.last_pts_us >= 0) {
        const int64_t step = last_duration_us > 0 ? last_duration_us
                             : frame_us > 0        ? frame_us
                                                   : frameUsOf(span);
        span.duration_us = span.last_pts_us + step;
    }
    av_seek_frame(format, stream, start_time, AVSEEK_FLAG_BACKWARD);
    key_of_last_read_us = last_read_us = -1;
    return span;
}

// The time between pictures that the video's length and count give.
int64_t ClipReader::frameUsOf(const ContainerSpan& span)
{
    if (span.pictures > 0 && span.duration_us > 0)
        return std::max<int64_t>((span.duration_us + span.pictures / 2) / span.pictures, 1);
    if (span.pictures > 1 && span.last_pts_us > 0)
        return std::max<int64_t>(span.last_pts_us / (span.pictures - 1), 1);
    return kDefaultFrameUs;
}

void ClipReader::close()
{
    avformat_close_input(&format);
    if (io != nullptr)
        av_freep(&io->buffer);
    avio_context_free(&io);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    keep_going_flag = nullptr;
    stream = -1;
    raw_index.reset();
    next_raw = 0;
    clip_timing = ClipTiming();
    key_of_last_read_us = last_read_us = -1;
}

const AVCodecParameters* ClipReader::codecParameters() const
{
    return format != nullptr ? format->streams[stream]->codecpar : nullptr;
}

bool ClipReader::read(AVPacket* packet)
{
    if (format == nullptr)
        return false;
    if (raw && indexing == Indexing::Full)
        return readRaw(packet);
    return readContainer(packet);
}

bool ClipReader::readRaw(AVPacket* packet)
{
    if (next_raw >= raw_index->pictures.size())
        return false;
    const RawStreamIndex::Picture& picture = raw_index->pictures[next_raw];
    if (av_new_packet(packet, picture.size) < 0)
        return false;
    const ssize_t got = pread(fd, packet->data, static_cast<size_t>(picture.size), picture.pos);
    if (got != picture.size) {
        av_packet_unref(packet);
        return false; // truncated or failing since it was indexed
    }
    packet->pts = static_cast<int64_t>(picture.rank) * clip_timing.frame_us;
    packet->dts = AV_NOPTS_VALUE;
    if (picture.key_picture == static_cast<int32_t>(next_raw))
        packet->flags |= AV_PKT_FLAG_KEY;
    ++next_raw;
    return true;
}

bool ClipReader::readContainer(AVPacket* packet)
{
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index != stream) {
            av_packet_unref(packet);
            continue;
        }
        if (indexing == Indexing::Sequential)
            return true;
        packet->pts = packet->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : toMicroseconds(packet->pts);
        packet->dts = packet->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : toMicroseconds(packet->dts);
        const int64_t when = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (when != AV_NOPTS_VALUE) {
            last_read_us = when;
            if ((packet->flags & AV_PKT_FLAG_KEY) != 0)
                key_of_last_read_us = when;
        }
        return true;
    }
    return false;
}

int64_t ClipReader::toMicroseconds(int64_t stream_time) const
{
    return av_rescale_q(stream_time - start_time, format->streams[stream]->time_base, kMicroseconds);
}

int ClipReader::keyPictureFor(int64_t target_us) const
{
    const int64_t rank = std::clamp<int64_t>(target_us / clip_timing.frame_us, 0,
                                             static_cast<int64_t>(raw_index->decoding_of_rank.size()) - 1);
    return raw_index->pictures[raw_index->decoding_of_rank[static_cast<size_t>(rank)]].key_picture;
}

void ClipReader::seekBefore(int64_t target_us)
{
    if (format == nullptr)
        return;
    if (raw) {
        next_raw = static_cast<size_t>(keyPictureFor(target_us));
        return;
    }
    // Pictures decoded ahead of their turn start that far before their time.
    const AVStream* video = format->streams[stream];
    const int64_t early_us = (video->codecpar->video_delay + 1) * clip_timing.frame_us;
    const int64_t at = start_time + av_rescale_q(std::max<int64_t>(target_us - early_us, 0),
                                                 kMicroseconds, video->time_base);
    if (av_seek_frame(format, stream, at, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(format, stream, start_time, AVSEEK_FLAG_BACKWARD);
    key_of_last_read_us = last_read_us = -1;
}

// The container's key picture at or before `us` (by decoding time); -1 when
// it names none.
int64_t ClipReader::keyTimeAtOrBefore(int64_t us) const
{
    AVStream* video = format->streams[stream];
    const int64_t at = start_time + av_rescale_q(us, kMicroseconds, video->time_base);
    // A binary search of the index; without AVSEEK_FLAG_ANY, key pictures only.
    const AVIndexEntry* entry = avformat_index_get_entry_from_timestamp(video, at, AVSEEK_FLAG_BACKWARD);
    return entry != nullptr ? toMicroseconds(entry->timestamp) : -1;
}

bool ClipReader::readingOnReaches(int64_t target_us) const
{
    if (format == nullptr)
        return false;
    if (raw)
        return next_raw > 0 && raw_index->pictures[next_raw - 1].key_picture == keyPictureFor(target_us);
    if (key_of_last_read_us < 0)
        return false;
    const int64_t key = keyTimeAtOrBefore(target_us);
    if (key < 0)
        return target_us - last_read_us <= kReadOnWithoutIndexUs;
    return key <= key_of_last_read_us + clip_timing.frame_us / 2;
}

bool ClipReader::changedOnDisk() const
{
    const RegularFile::Version now = RegularFile::versionAt(file_path);
    return now.size >= 0 && now != opened;
}

int ClipReader::stopAsked(void* opaque)
{
    const std::atomic<bool>* keep_going = static_cast<ClipReader*>(opaque)->keep_going_flag;
    return keep_going != nullptr && !keep_going->load() ? 1 : 0;
}

int ClipReader::readFromFile(void* opaque, uint8_t* buffer, int size)
{
    if (stopAsked(opaque))
        return AVERROR_EXIT;
    const int fd = static_cast<ClipReader*>(opaque)->fd;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, static_cast<size_t>(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return AVERROR(errno);
        return count == 0 ? AVERROR_EOF : static_cast<int>(count);
    }
}

int64_t ClipReader::seekInFile(void* opaque, int64_t offset, int whence)
{
    const int fd = static_cast<ClipReader*>(opaque)->fd;
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
    }
    const off_t position = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<int64_t>(position);
}

} // namespace Spectrafox
