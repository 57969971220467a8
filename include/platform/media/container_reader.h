#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/regular_file.h"

struct AVBSFContext;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace Spectrafox {

// Reads the first video stream of an MP4, MOV or MKV file with libavformat
// and hands it out as one H.264 byte stream in Annex B form (start codes,
// parameter sets before every key picture), repeating from the start at the
// end of the file, so that it can be fed like a raw .h264 file. A file
// replaced or rewritten while it plays is opened again at the loop, so the
// new clip follows.
//
// Only regular files are opened, and without blocking: a FIFO given a
// container's name never holds up its caller.
class ContainerReader {
public:
    struct Info {
        int width = 0;
        int height = 0;
        bool h264 = false;
    };

    ContainerReader() = default;
    ~ContainerReader();
    ContainerReader(const ContainerReader&) = delete;
    ContainerReader& operator=(const ContainerReader&) = delete;

    // The picture size and codec of the file's first video stream; false
    // when the file is no container with a video stream.
    static bool probe(const std::string& path, Info* info);
    // True for the names ending .mp4, .mov or .mkv.
    static bool isContainerName(const std::string& path);

    // Opens the file for reading; false (and nothing held) unless its first
    // video stream is H.264.
    bool open(const std::string& path);
    // Copies up to `room` bytes of the stream into `out` and returns how
    // many; 0 only when no picture data can be had any more.
    size_t read(uint8_t* out, size_t room);
    void close();

private:
    bool openFormat(const std::string& path);
    bool openFilter();
    bool nextPacket(bool* looped);
    bool rewind();
    bool reopenIfChanged(bool* failed);
    static int readFromFile(void* opaque, uint8_t* buffer, int size);
    static int64_t seekInFile(void* opaque, int64_t offset, int whence);

    std::string path;
    RegularFile::Version opened;
    int fd = -1;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVBSFContext* filter = nullptr;
    AVPacket* input = nullptr;
    AVPacket* output = nullptr;
    int stream = -1;
    int offset = 0;
    bool has_output = false;
    bool video_since_rewind = false;
};

} // namespace Spectrafox
