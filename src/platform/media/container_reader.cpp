#include "platform/media/container_reader.h"

#include "base/regular_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
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
constexpr const char* kAnnexBFilter = "h264_mp4toannexb";
// The demuxers a clip may need: MP4/MOV, Matroska/WebM and raw H.264.
constexpr const char* kDemuxers = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,h264";
} // namespace

ContainerReader::~ContainerReader() { close(); }

bool ContainerReader::isContainerName(const std::string& path)
{
    for (const char* suffix : {".mp4", ".mov", ".mkv"}) {
        const size_t length = std::strlen(suffix);
        if (path.size() >= length && path.compare(path.size() - length, length, suffix) == 0)
            return true;
    }
    return false;
}

bool ContainerReader::probe(const std::string& path, Info* info)
{
    ContainerReader reader;
    if (!reader.openFormat(path))
        return false;
    const AVCodecParameters* video = reader.format->streams[reader.stream]->codecpar;
    info->width = video->width;
    info->height = video->height;
    info->h264 = video->codec_id == AV_CODEC_ID_H264;
    return true;
}

bool ContainerReader::open(const std::string& path_)
{
    close();
    path = path_;
    if (openFormat(path) && format->streams[stream]->codecpar->codec_id == AV_CODEC_ID_H264 &&
        openFilter())
        return true;
    close();
    return false;
}

// Through our own descriptor, so that the regular-file check and the reads
// see the same file.
bool ContainerReader::openFormat(const std::string& path)
{
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
    // Only the containers we take: a file of another format under a video's
    // name never reaches the rest of libavformat's demuxers.
    format->format_whitelist = av_strdup(kDemuxers);
    if (format->format_whitelist == nullptr)
        return false;
    if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0) {
        format = nullptr; // freed by the failed open
        return false;
    }
    if (avformat_find_stream_info(format, nullptr) < 0)
        return false;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    return stream >= 0;
}

bool ContainerReader::openFilter()
{
    const AVBitStreamFilter* annex_b = av_bsf_get_by_name(kAnnexBFilter);
    if (annex_b == nullptr || av_bsf_alloc(annex_b, &filter) < 0)
        return false;
    if (avcodec_parameters_copy(filter->par_in, format->streams[stream]->codecpar) < 0)
        return false;
    filter->time_base_in = format->streams[stream]->time_base;
    input = av_packet_alloc();
    output = av_packet_alloc();
    return av_bsf_init(filter) >= 0 && input != nullptr && output != nullptr;
}

void ContainerReader::close()
{
    av_packet_free(&input);
    av_packet_free(&output);
    av_bsf_free(&filter);
    avformat_close_input(&format);
    if (io != nullptr)
        av_freep(&io->buffer);
    avio_context_free(&io);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    stream = -1;
    offset = 0;
    has_output = false;
    video_since_rewind = false;
}

size_t ContainerReader::read(uint8_t* out, size_t room)
{
    if (filter == nullptr)
        return 0;
    size_t done = 0;
    while (done < room) {
        if (!has_output || offset >= output->size) {
            av_packet_unref(output);
            offset = 0;
            bool looped = false;
            has_output = nextPacket(&looped);
            if (!has_output)
                break;
            // A buffer ends with the file, as a raw stream's does, so that
            // a file replaced meanwhile follows at once.
            if (looped && done > 0)
                break;
        }
        const size_t count = std::min(room - done, static_cast<size_t>(output->size - offset));
        std::memcpy(out + done, output->data + offset, count);
        offset += static_cast<int>(count);
        done += count;
    }
    return done;
}

// The next filtered packet, starting the file again at its end. A whole
// pass without one video packet ends the stream.
bool ContainerReader::nextPacket(bool* looped)
{
    for (;;) {
        const int filtered = av_bsf_receive_packet(filter, output);
        if (filtered == 0)
            return true;
        if (filtered != AVERROR(EAGAIN))
            return false;
        if (av_read_frame(format, input) < 0) {
            *looped = true;
            bool failed = false;
            if (reopenIfChanged(&failed)) {
                if (failed)
                    return false;
                continue;
            }
            if (!video_since_rewind || !rewind())
                return false;
            continue;
        }
        if (input->stream_index != stream) {
            av_packet_unref(input);
            continue;
        }
        video_since_rewind = true;
        if (av_bsf_send_packet(filter, input) < 0)
            av_packet_unref(input);
    }
}

// At the loop: a file copied over, truncated or rewritten since it was
// opened is read anew, index and all; *failed when it cannot be (yet).
bool ContainerReader::reopenIfChanged(bool* failed)
{
    // A file removed under it plays on from the open descriptor.
    const RegularFile::Version now = RegularFile::versionAt(path);
    if (now.size < 0 || now == opened)
        return false;
    const std::string again = path;
    *failed = !open(again);
    return true;
}

bool ContainerReader::rewind()
{
    video_since_rewind = false;
    av_bsf_flush(filter);
    const AVStream* video = format->streams[stream];
    const int64_t start = video->start_time == AV_NOPTS_VALUE ? 0 : video->start_time;
    return av_seek_frame(format, stream, start, AVSEEK_FLAG_BACKWARD) >= 0;
}

int ContainerReader::readFromFile(void* opaque, uint8_t* buffer, int size)
{
    const int fd = static_cast<ContainerReader*>(opaque)->fd;
    for (;;) {
        const ssize_t count = ::read(fd, buffer, static_cast<size_t>(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return AVERROR(errno);
        return count == 0 ? AVERROR_EOF : static_cast<int>(count);
    }
}

int64_t ContainerReader::seekInFile(void* opaque, int64_t offset, int whence)
{
    const int fd = static_cast<ContainerReader*>(opaque)->fd;
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
    }
    const off_t position = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<int64_t>(position);
}

} // namespace Spectrafox
