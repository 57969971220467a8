// H.264 streams at 25 pictures per second, 1280x720 and 1920x1080, playing
// into the slots of a VideoPlayer while a render loop draws the three slots
// side by side at 1280x720 offscreen. Figures, all from the same run:
// - pictures per second reaching each slot (the streams carry 25), with the
//   loop paced at 60 frames per second as on a display;
// - the CPU per picture of our path: decoding on the slots' threads (every
//   thread but the render loop's, which with LP_NUM_THREADS=0 also does
//   llvmpipe's drawing) plus the upload on the render thread (its time inside
//   bindDue), with three clips playing and with one;
// - FFmpeg's bare decode of the same clip (a libavformat + libavcodec loop,
//   pictures dropped), one per slot with the threads our budget gave that
//   slot's decoder, paced at 25 pictures per second beside the same render
//   loop drawing a still YUV picture (so that both share the cores alike),
//   measured the same way; the ratio our path / bare decode (goal: within
//   1.05 at 1080p), and the same for the decode side alone;
// - the bytes handed to GL per picture, per pixel (goal: 1.5, not RGBA's 4);
// - at 720p also the unpaced loop's frame rate with the three clips against
//   the same scene with no video, and the CPU per picture of the clips as
//   .mp4 files against raw streams.
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "canvas/renderer.h"

#include <EGL/egl.h>
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLoopWidth = 1280;
constexpr int kLoopHeight = 720;
constexpr int kFps = 25;
constexpr int kClipSeconds = 8;
constexpr double kWarmUpSeconds = 1.5;
constexpr double kMeasureSeconds = 5.0;
constexpr int kSlots = 3;

struct Size {
    int width;
    int height;
    const char* name;
};

constexpr Size k720p{1280, 720, "720p"};
constexpr Size k1080p{1920, 1080, "1080p"};

bool makeClip(const std::string& path, const Size& size, const char* format)
{
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=" + std::to_string(size.width) + "x" +
        std::to_string(size.height) + ":r=" + std::to_string(kFps) + ":d=" +
        std::to_string(kClipSeconds) +
        " -c:v libx264 -preset veryfast -b:v 4M -pix_fmt yuv420p -f " + format + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double threadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// CPU time of every thread but this one (the render loop).
double otherThreadsCpuSeconds()
{
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - threadCpuSeconds();
}

GLuint makeStandInTexture()
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    Spectrafox::glBindTexture(GL_TEXTURE_2D, texture);
    const unsigned char grey[4] = {64, 64, 64, 255};
    Spectrafox::glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, grey);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return texture;
}

// The scene: the three slots side by side, as the renderer draws video; a
// slot with nothing to show draws a grey stand-in. Without a player, the
// first `still_slots` slots draw one still YUV picture: the same drawing
// as video, without pictures coming.
class Scene {
public:
    Scene()
    {
        stand_in = makeStandInTexture();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        Spectrafox::glEnable(GL_TEXTURE_2D);
        glDisableClientState(GL_COLOR_ARRAY);
        glColor4f(1, 1, 1, 1);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, kTexCoordsVid);
    }
    ~Scene() { Spectrafox::glDeleteTextures(1, &stand_in); }

    void frame()
    {
        Spectrafox::glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < kSlots; ++i) {
            const float left = -1.0f + 2.0f * i / kSlots;
            const float right = left + 2.0f / kSlots;
            const float quad[8] = {left, -1, right, -1, left, 1, right, 1};
            glVertexPointer(2, GL_FLOAT, 0, quad);
            if (i < still_slots && still != nullptr)
                still->bind();
            else if (bindDue(i + 1) == VideoPlayer::Shown::Nothing)
                Spectrafox::glBindTexture(GL_TEXTURE_2D, stand_in);
            Spectrafox::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        FixedFunctionPipeline::instance().flush();
        eglSwapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
        Spectrafox::glFinish();
    }

    VideoPlayer* player = nullptr;
    const YuvTexture* still = nullptr;
    int still_slots = 0;
    // The render thread's CPU inside bindDue: taking the due picture and
    // uploading its planes.
    double upload_cpu_seconds = 0.0;

private:
    VideoPlayer::Shown bindDue(int slot)
    {
        if (player == nullptr)
            return VideoPlayer::Shown::Nothing;
        const double before = threadCpuSeconds();
        const VideoPlayer::Shown shown = player->bindDue(slot);
        upload_cpu_seconds += threadCpuSeconds() - before;
        return shown;
    }

    static constexpr GLfloat kTexCoordsVid[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    GLuint stand_in = 0;
};

struct Round {
    double frames_per_second = 0.0;
    double pictures_per_second[kSlots] = {};
    double decode_cpu_seconds = 0.0;
    double upload_cpu_seconds = 0.0;
    long pictures = 0;

    double decodeMsPerPicture() const { return perPicture(decode_cpu_seconds); }
    double uploadMsPerPicture() const { return perPicture(upload_cpu_seconds); }
    double msPerPicture() const { return perPicture(decode_cpu_seconds + upload_cpu_seconds); }

private:
    double perPicture(double seconds) const
    {
        return pictures > 0 ? 1000.0 * seconds / pictures : 0.0;
    }
};

// Pictures so far of slot 1 to kSlots.
using PictureCount = std::function<long(int slot)>;

// Runs the scene for `seconds`, paced to `pace_fps` (0: as fast as it goes).
Round measure(Scene& scene, double seconds, int pace_fps, const PictureCount& count)
{
    long before[kSlots] = {};
    for (int i = 0; i < kSlots; ++i)
        before[i] = count(i + 1);
    const double cpu_before = otherThreadsCpuSeconds();
    const double upload_before = scene.upload_cpu_seconds;
    const Clock::time_point start = Clock::now();
    Clock::time_point next = start;
    long frames = 0;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        scene.frame();
        ++frames;
        if (pace_fps > 0) {
            next += std::chrono::microseconds(1000000 / pace_fps);
            std::this_thread::sleep_until(next);
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    Round round;
    round.frames_per_second = frames / elapsed;
    round.decode_cpu_seconds = otherThreadsCpuSeconds() - cpu_before;
    round.upload_cpu_seconds = scene.upload_cpu_seconds - upload_before;
    for (int i = 0; i < kSlots; ++i) {
        const long pictures = count(i + 1) - before[i];
        round.pictures_per_second[i] = pictures / elapsed;
        round.pictures += pictures;
    }
    return round;
}

long noPictures(int) { return 0; }

void printPictures(const std::string& what, const Round& r)
{
    std::printf("%-38s loop %6.1f fps | pictures/s per slot: %5.2f %5.2f %5.2f (stream: %d)\n",
                what.c_str(), r.frames_per_second, r.pictures_per_second[0],
                r.pictures_per_second[1], r.pictures_per_second[2], kFps);
}

// Plays the clip on `clips` slots; returns the paced round, and the unpaced
// one in `unpaced` when asked.
Round play(Scene& scene, const std::string& clip, int clips, const std::string& what,
           Round* unpaced = nullptr)
{
    EGLDisplay display = eglGetCurrentDisplay();
    EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
    EGLContext context = eglGetCurrentContext();
    VideoPlayer player(&display, &surface, &context);
    PlaybackSteering playing;
    playing.epoch = 1;
    playing.steady_ns = PictureQueue::steadyNowNs();
    for (int i = 0; i < clips; ++i)
        player.startFreePlayer(clip, playing);
    scene.player = &player;
    const PictureCount count = [&player](int slot) { return player.getPictureCount(slot); };
    measure(scene, kWarmUpSeconds, 60, count); // pipelines complete, caches fill
    const Round paced = measure(scene, kMeasureSeconds, 60, count);
    printPictures(what + ", loop paced at 60:", paced);
    if (unpaced != nullptr) {
        *unpaced = measure(scene, kMeasureSeconds, 0, count);
        printPictures(what + ", loop unpaced:", *unpaced);
    }
    player.sendStopSignal();
    for (int id = 1; id <= clips; ++id)
        player.stopPlayer(id);
    scene.player = nullptr;
    return paced;
}

// The decoding threads our budget grants each of `count` decoders opened
// one after the other, as the player's slots open theirs.
std::vector<int> threadGrants(const std::string& clip, int count)
{
    std::vector<ClipDecoder> decoders(static_cast<size_t>(count));
    std::vector<int> grants;
    for (ClipDecoder& decoder : decoders) {
        const int before = ClipDecoder::decodingThreadsInUse();
        decoder.open(clip, ClipDecoder::Options{});
        grants.push_back(ClipDecoder::decodingThreadsInUse() - before);
    }
    return grants;
}

// FFmpeg's own loop over the clip on a thread of its own, paced as a slot
// is (a picture every 1/25 s), with nothing done to the pictures.
class BareDecoder {
public:
    BareDecoder(const std::string& path, int threads)
        : worker([this, path, threads] { run(path, threads); })
    {
    }
    ~BareDecoder()
    {
        stopping.store(true);
        worker.join();
    }
    long pictures() const { return decoded.load(); }

private:
    void run(const std::string& path, int threads)
    {
        AVFormatContext* format = nullptr;
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
            return;
        AVCodecContext* codec = nullptr;
        const int stream = openCodec(format, threads, &codec);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        if (stream >= 0) {
            next_picture = Clock::now();
            while (!stopping.load() && av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0)
                    receiveAll(codec, frame);
                av_packet_unref(packet);
            }
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    static int openCodec(AVFormatContext* format, int threads, AVCodecContext** codec)
    {
        if (avformat_find_stream_info(format, nullptr) < 0)
            return -1;
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVCodec* decoder = avcodec_find_decoder_by_name("h264");
        *codec = stream >= 0 ? avcodec_alloc_context3(decoder) : nullptr;
        if (*codec == nullptr ||
            avcodec_parameters_to_context(*codec, format->streams[stream]->codecpar) < 0)
            return -1;
        (*codec)->thread_count = threads;
        (*codec)->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        return avcodec_open2(*codec, decoder, nullptr) < 0 ? -1 : stream;
    }

    void receiveAll(AVCodecContext* codec, AVFrame* frame)
    {
        while (avcodec_receive_frame(codec, frame) == 0) {
            av_frame_unref(frame);
            decoded.fetch_add(1);
            next_picture += std::chrono::microseconds(1000000 / kFps);
            std::this_thread::sleep_until(next_picture);
        }
    }

    std::atomic<bool> stopping{false};
    std::atomic<long> decoded{0};
    Clock::time_point next_picture;
    std::thread worker;
};

std::string threadList(const std::vector<int>& grants)
{
    std::string list;
    for (int threads : grants)
        list += (list.empty() ? "" : "+") + std::to_string(threads);
    return list;
}

// One decoded picture of the clip in a YUV texture.
bool uploadOnePicture(const std::string& clip, YuvTexture* texture)
{
    ClipDecoder decoder;
    DecodedPicture picture;
    if (!decoder.open(clip, ClipDecoder::Options{}) ||
        decoder.next(&picture) != ClipDecoder::Step::Picture)
        return false;
    GLint max_size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    YuvFrameUpload upload;
    return upload.upload(*picture, *texture, max_size);
}

// The bare decoders of the clip, one per decoder with its decoder's threads,
// beside the same render loop drawing a still picture where each shows.
Round bareRound(Scene& scene, const std::string& clip, const std::vector<int>& grants,
                const YuvTexture& still)
{
    std::vector<std::unique_ptr<BareDecoder>> decoders;
    for (int threads : grants)
        decoders.push_back(std::make_unique<BareDecoder>(clip, threads));
    scene.still = &still;
    scene.still_slots = static_cast<int>(grants.size());
    const PictureCount count = [&decoders](int slot) {
        return slot <= static_cast<int>(decoders.size()) ? decoders[slot - 1]->pictures() : 0;
    };
    measure(scene, kWarmUpSeconds, 60, count);
    const Round round = measure(scene, kMeasureSeconds, 60, count);
    scene.still_slots = 0;
    return round;
}

void compare(const std::string& what, const Round& ours, const Round& bare,
             const std::vector<int>& grants, const char* goal)
{
    const double bare_ms = bare.decodeMsPerPicture();
    if (bare_ms <= 0.0)
        return;
    std::printf("%s: ours %.2f ms/picture (decode %.2f + upload %.2f) | bare decode %.2f ms "
                "(threads %s, %.1f pictures/s) | ours / bare %.2f, decode side alone %.2f%s\n",
                what.c_str(), ours.msPerPicture(), ours.decodeMsPerPicture(),
                ours.uploadMsPerPicture(), bare_ms, threadList(grants).c_str(),
                bare.pictures_per_second[0], ours.msPerPicture() / bare_ms,
                ours.decodeMsPerPicture() / bare_ms, goal);
}

// The raw clip at this size: three slots and one, each against bare
// decoding; returns the round of three.
Round measureSize(Scene& scene, const Size& size, const std::string& clip, Round* unpaced)
{
    const std::string name = size.name;
    const char* goal = size.height == k1080p.height ? " (goal <= 1.05)" : "";
    YuvTexture still;
    if (!uploadOnePicture(clip, &still))
        return Round();
    const Round three = play(scene, clip, kSlots, "three " + name + " raw", unpaced);
    const Round one = play(scene, clip, 1, "one " + name + " raw");
    const std::vector<int> grants_three = threadGrants(clip, kSlots);
    const std::vector<int> grants_one = threadGrants(clip, 1);
    const Round bare_three = bareRound(scene, clip, grants_three, still);
    const Round bare_one = bareRound(scene, clip, grants_one, still);
    compare(name + ", three clips", three, bare_three, grants_three, goal);
    compare(name + ", one clip   ", one, bare_one, grants_one, goal);
    const double pixels = static_cast<double>(size.width) * size.height;
    std::printf("%s: %.2f bytes per pixel uploaded per picture (goal 1.5; RGBA: 4)\n", size.name,
                static_cast<double>(still.uploadedBytes()) / pixels);
    still.release();
    return three;
}

} // namespace

int main()
{
    // llvmpipe draws on the render loop's thread: its CPU time is not the video's.
    setenv("LP_NUM_THREADS", "0", 0);
    char dir_pattern[] = "/tmp/spectrafox-video-bench-XXXXXX";
    if (mkdtemp(dir_pattern) == nullptr)
        return 1;
    const std::string dir = dir_pattern;
    const std::string raw720 = dir + "/clip720.h264";
    const std::string mp4720 = dir + "/clip720.mp4";
    const std::string raw1080 = dir + "/clip1080.h264";
    if (!makeClip(raw720, k720p, "h264") || !makeClip(mp4720, k720p, "mp4") ||
        !makeClip(raw1080, k1080p, "h264")) {
        std::fprintf(stderr, "ffmpeg could not make the test clips\n");
        return 1;
    }

    DisplayOptions options = DisplayOptions::headless(kLoopWidth, kLoopHeight);
    options.offscreen_fps_cap = 0;
    Renderer renderer(options);
    {
        Scene scene;
        const Round idle = measure(scene, kMeasureSeconds, 0, noPictures);
        std::printf("%-34s loop %6.1f fps\n", "no video, unpaced:", idle.frames_per_second);
        Round unpaced;
        const Round raw = measureSize(scene, k720p, raw720, &unpaced);
        std::printf("unpaced loop with three 720p clips / without: %.2f\n",
                    unpaced.frames_per_second / idle.frames_per_second);
        const Round container = play(scene, mp4720, kSlots, "three 720p .mp4");
        std::printf("720p CPU per picture .mp4 / raw: %.2f\n",
                    container.msPerPicture() / raw.msPerPicture());
        measureSize(scene, k1080p, raw1080, nullptr);
    }
    for (const std::string& clip : {raw720, mp4720, raw1080})
        std::remove(clip.c_str());
    rmdir(dir_pattern);
    return 0;
}
