#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/regular_file.h"
#include "platform/media/raw_stream_index.h"

struct AVCodecParameters;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace Spectrafox {

// When a clip's pictures show, in microseconds from its first picture.
// Pictures are taken to come at one steady rate (frame_us apart), which is
// what the desk's positions and in-points are snapped to; the duration is
// the clip's length rounded to whole pictures.
struct ClipTiming {
    int64_t frame_us = 40000;
    int64_t duration_us = 40000; // a whole number of pictures, at least one

    int64_t lastPicture() const { return duration_us - frame_us; }
    // The picture nearest to `us` (within the clip), and the one showing at
    // `us` (the last that starts at or before it).
    int64_t nearestPicture(int64_t us) const;
    int64_t pictureShowingAt(int64_t us) const;
};

// The H.264 video of a clip, packet by packet in decoding order, each packet
// stamped (pts, in microseconds from the clip's first picture) with the time
// of its picture, and repositioned for a seek:
// - a raw H.264 stream is indexed when opened (RawStreamIndex); the packets
//   are read from the file by that index, so a seek lands on the packet it
//   names;
// - the H.264 video of an MP4, MOV or MKV file is timed and indexed by the
//   container.
// Only regular files, opened without blocking, and only these demuxers:
// anything else under a video's name reaches no other part of libavformat.
class ClipReader {
public:
    struct Info {
        int width = 0;
        int height = 0;
        bool h264 = false;
    };
    // The picture size and codec of a container's first video stream, or of
    // a raw stream (from its parameter sets); false when the file is no
    // container with a video stream, or no stream at all. A size the file
    // does not tell is 0.
    static bool probe(const std::string& path, Info* info);
    // True for the names ending .mp4, .mov or .mkv; other names are raw streams.
    static bool isContainerName(const std::string& path);

    // Full: timed and seekable. Sequential: packets from the start only,
    // unstamped, without reading a raw file through first (a first picture).
    enum class Indexing { Full, Sequential };

    ClipReader();
    ~ClipReader();
    ClipReader(const ClipReader&) = delete;
    ClipReader& operator=(const ClipReader&) = delete;

    // False, holding nothing, unless the file's video is H.264 with at least
    // one picture. Indexing a raw stream reads it through; the open, the
    // probe of the stream and the indexing give up at their next read once
    // *keep_going turns false, and so does every read after.
    bool open(const std::string& path, Indexing indexing = Indexing::Full,
              const std::atomic<bool>* keep_going = nullptr);
    void close();

    const ClipTiming& timing() const { return clip_timing; }
    // For the decoder (the container's parameter sets); null when closed.
    const AVCodecParameters* codecParameters() const;
    // The next packet in decoding order; false at the end of the clip, or
    // when the file no longer gives what its index promised.
    bool read(AVPacket* packet);
    // Repositions so that decoding from the next packet brings the picture
    // showing at `target_us` (or an earlier one, for a container that
    // cannot say where its key pictures lie).
    void seekBefore(int64_t target_us);
    // True when the picture showing at `target_us` is decoded from the key
    // picture of the packets read last: reading on reaches it without a seek.
    bool readingOnReaches(int64_t target_us) const;
    // True when the file under the name is not the one opened (copied over,
    // rewritten in place); false while the name names nothing.
    bool changedOnDisk() const;
    const std::string& path() const { return file_path; }

private:
    // Which demuxers may read the file: a raw stream's alone (forced), the
    // containers', or (for a size) any that a video may come in.
    enum class Demuxers { RawH264, Containers, OtherVideo };
    static bool probeAs(const std::string& path, Demuxers demuxers, Info* info);
    static bool probeParameterSets(const std::string& path, Info* info);
    bool openFormat(const std::string& path, Demuxers demuxers, bool quick);
    bool indexRawStream(const std::atomic<bool>* keep_going);
    // What the container tells, or its packets show, of the video's length.
    struct ContainerSpan {
        int64_t duration_us;
        int64_t pictures;
        int64_t last_pts_us;
    };
    void timeContainer(const std::atomic<bool>* keep_going);
    int64_t declaredDurationUs() const;
    ContainerSpan scanPackets(int64_t frame_us, const std::atomic<bool>* keep_going);
    static int64_t frameUsOf(const ContainerSpan& span);
    bool readRaw(AVPacket* packet);
    bool readContainer(AVPacket* packet);
    int keyPictureFor(int64_t target_us) const;
    int64_t keyTimeAtOrBefore(int64_t us) const;
    int64_t toMicroseconds(int64_t stream_time) const;
    static int stopAsked(void* opaque);
    static int readFromFile(void* opaque, uint8_t* buffer, int size);
    static int64_t seekInFile(void* opaque, int64_t offset, int whence);

    std::string file_path;
    RegularFile::Version opened;
    int fd = -1;
    // The owner's stop flag (null: never stopped), asked at every read.
    const std::atomic<bool>* keep_going_flag = nullptr;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    int stream = -1;
    bool raw = false;
    Indexing indexing = Indexing::Full;
    ClipTiming clip_timing;
    // Raw streams: the index, and the next picture to read.
    std::shared_ptr<const RawStreamIndex> raw_index;
    size_t next_raw = 0;
    // Containers: where the first picture starts, and the key picture (by
    // its decoding time) of the packets read last.
    int64_t start_time = 0;
    int64_t key_of_last_read_us = -1;
    int64_t last_read_us = -1;
};

} // namespace Spectrafox
