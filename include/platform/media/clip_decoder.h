#pragma once

#include "platform/media/clip_reader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace Spectrafox {

// A decoded picture; its pts is its time in microseconds from the clip's
// first picture.
using DecodedPicture = std::shared_ptr<AVFrame>;

// Decodes a clip's pictures in presentation order and lands on any picture
// exactly: a seek starts at the key picture before the one asked for and
// decodes forward, dropping what comes before it, or simply decodes on when
// no key picture lies in between. The decoder is the board's (FFmpeg's V4L2
// memory-to-memory H.264 decoder) where one opens, FFmpeg's own otherwise,
// with frame and slice threads from one budget of the machine's cores
// shared by every clip decoding at once. One thread drives it.
class ClipDecoder {
public:
    enum class Step { Picture, End, Failed, Stopped };

    struct Options {
        // How many clips may decode at once: each one's share of the cores.
        int expected_decoders = 3;
        // Keep the board decoder's DRM PRIME frames (to be imported as they
        // are) instead of having them copied into memory.
        bool keep_hardware_frames = false;
        // Read while indexing and decoding; false ends the work.
        const std::atomic<bool>* keep_going = nullptr;
    };

    // A stream that has given no picture after this many bytes is given up:
    // not H.264, or no picture in it that this decoder can make.
    static constexpr long kMostBytesWithoutPicture = 16L << 20;
    // A clip's decoder takes at most this many threads.
    static constexpr int kMostThreadsPerDecoder = 4;

    ClipDecoder();
    ~ClipDecoder();
    ClipDecoder(const ClipDecoder&) = delete;
    ClipDecoder& operator=(const ClipDecoder&) = delete;

    bool open(const std::string& path, const Options& options);
    void close();
    bool isOpen() const { return codec != nullptr; }

    const ClipTiming& timing() const { return reader.timing(); }
    // The next picture is the one showing at `target_us` (within the clip).
    void seek(int64_t target_us);
    // The next picture; End after the clip's last one (a seek starts again).
    Step next(DecodedPicture* picture);
    bool changedOnDisk() const { return reader.changedOnDisk(); }
    // True when the board's decoder took the clip.
    bool onHardware() const { return hardware; }

    // Software decoding threads held by every decoder of the process.
    static int decodingThreadsInUse();

private:
    bool openDecoder(const char* name, const Options& options);
    bool feed();
    bool take(DecodedPicture* picture);
    bool landedLate(int64_t pts);
    void restartAt(int64_t us);
    void giveBackThreads();
    bool keepGoing() const;

    ClipReader reader;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    const std::atomic<bool>* keep_going = nullptr;
    bool hardware = false;
    int threads_granted = 0;
    bool draining = false;
    // Pictures before this are decoded only to reach it.
    int64_t wanted_us = 0;
    int64_t last_given_us = -1;
    bool just_seeked = false;
    int64_t seek_back_us = 0;
    // The last picture dropped on the way: given when the clip ends before
    // the wanted one.
    DecodedPicture passed;
    long bytes_without_picture = 0;
    bool gave_picture = false;
};

} // namespace Spectrafox
