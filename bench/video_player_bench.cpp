// Three 1280x720 H.264 streams at 25 pictures per second playing into three
// textures while a render loop draws those textures at 1280x720 offscreen.
// Figures: pictures per second reaching each texture (the streams carry 25),
// with the loop paced at 60 frames per second as on a display and with the
// loop unpaced; the unpaced loop's frame rate against the same scene with no
// video playing; and the same three clips as .mp4 files. For raw and
// container input: the CPU time per decoded picture (decoding, conversion,
// upload: every thread but the render loop's, which with LP_NUM_THREADS=0
// also does llvmpipe's drawing), and the ratio of the two, all measured in
// the same run.
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "canvas/renderer.h"

#include <EGL/egl.h>
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 25;
constexpr int kClipSeconds = 8;
constexpr double kMeasureSeconds = 10.0;
constexpr int kSlots = 3;

bool makeClip(const std::string& path, const char* format)
{
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=" + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + ":r=" + std::to_string(kFps) + ":d=" +
        std::to_string(kClipSeconds) +
        " -c:v libx264 -preset veryfast -b:v 4M -pix_fmt yuv420p -f " + format + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

GLuint makeVideoTexture()
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    Spectrafox::glBindTexture(GL_TEXTURE_2D, texture);
    Spectrafox::glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    Spectrafox::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

// The scene: the three textures side by side, as the renderer draws video.
class Scene {
public:
    explicit Scene(const GLuint* video_textures) : textures(video_textures)
    {
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

    void frame()
    {
        Spectrafox::glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < kSlots; ++i) {
            const float left = -1.0f + 2.0f * i / kSlots;
            const float right = left + 2.0f / kSlots;
            const float quad[8] = {left, -1, right, -1, left, 1, right, 1};
            glVertexPointer(2, GL_FLOAT, 0, quad);
            if (player == nullptr || player->bindDue(i + 1) == VideoPlayer::Shown::Nothing)
                Spectrafox::glBindTexture(GL_TEXTURE_2D, textures[i]);
            Spectrafox::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        }
        FixedFunctionPipeline::instance().flush();
        eglSwapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
        Spectrafox::glFinish();
    }

private:
    static constexpr GLfloat kTexCoordsVid[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    const GLuint* textures;

public:
    VideoPlayer* player = nullptr;
};

struct Round {
    double frames_per_second;
    double pictures_per_second[kSlots];
    double cpu_seconds;
    long pictures;
};

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU time of every thread but this one (the render loop).
double videoCpuSeconds()
{
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

// Runs the scene for kMeasureSeconds, paced to `pace_fps` (0: as fast as it goes).
Round measure(Scene& scene, const VideoPlayer* player, int pace_fps)
{
    long before[kSlots] = {};
    for (int i = 0; i < kSlots && player != nullptr; ++i)
        before[i] = player->getPictureCount(i + 1);
    const double cpu_before = videoCpuSeconds();
    const Clock::time_point start = Clock::now();
    Clock::time_point next = start;
    long frames = 0;
    while (Clock::now() - start < std::chrono::duration<double>(kMeasureSeconds)) {
        scene.frame();
        ++frames;
        if (pace_fps > 0) {
            next += std::chrono::microseconds(1000000 / pace_fps);
            std::this_thread::sleep_until(next);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Round round{frames / seconds, {}, videoCpuSeconds() - cpu_before, 0};
    for (int i = 0; i < kSlots && player != nullptr; ++i) {
        const long pictures = player->getPictureCount(i + 1) - before[i];
        round.pictures_per_second[i] = pictures / seconds;
        round.pictures += pictures;
    }
    return round;
}

void printPictures(const char* what, const Round& r)
{
    std::printf("%-40s loop %6.1f fps | pictures/s per texture: %5.2f %5.2f %5.2f (stream: %d)\n",
                what, r.frames_per_second, r.pictures_per_second[0], r.pictures_per_second[1],
                r.pictures_per_second[2], kFps);
}

double cpuMsPerPicture(const Round& with_video)
{
    return with_video.pictures > 0 ? 1000.0 * with_video.cpu_seconds / with_video.pictures : 0.0;
}

// Plays the clip on three slots: returns the paced round, prints both rounds.
Round playThree(Scene& scene, const std::string& clip, const char* kind,
                const Round& idle, bool unpaced_too)
{
    EGLDisplay display = eglGetCurrentDisplay();
    EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
    EGLContext context = eglGetCurrentContext();
    VideoPlayer player(&display, &surface, &context);
    PlaybackSteering playing;
    playing.epoch = 1;
    playing.steady_ns = PictureQueue::steadyNowNs();
    for (int i = 0; i < kSlots; ++i)
        player.startFreePlayer(clip, playing);
    scene.player = &player;
    measure(scene, &player, 60); // warm-up: pipelines complete, caches fill
    const Round paced = measure(scene, &player, 60);
    printPictures((std::string("three ") + kind + ", loop paced at 60:").c_str(), paced);
    if (unpaced_too) {
        const Round unpaced = measure(scene, &player, 0);
        printPictures((std::string("three ") + kind + ", loop unpaced:").c_str(), unpaced);
        std::printf("unpaced loop with video / without: %.2f\n",
                    unpaced.frames_per_second / idle.frames_per_second);
    }
    player.sendStopSignal();
    for (int id = 1; id <= kSlots; ++id)
        player.stopPlayer(id);
    scene.player = nullptr;
    return paced;
}

} // namespace

int main()
{
    // llvmpipe draws on the render loop's thread: its CPU time is not the video's.
    setenv("LP_NUM_THREADS", "0", 0);
    char dir_pattern[] = "/tmp/spectrafox-video-bench-XXXXXX";
    if (mkdtemp(dir_pattern) == nullptr)
        return 1;
    const std::string clip = std::string(dir_pattern) + "/clip.h264";
    const std::string mp4 = std::string(dir_pattern) + "/clip.mp4";
    if (!makeClip(clip, "h264") || !makeClip(mp4, "mp4")) {
        std::fprintf(stderr, "ffmpeg could not make the test clips\n");
        return 1;
    }

    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    Renderer renderer(options);
    GLuint textures[kSlots];
    for (GLuint& t : textures)
        t = makeVideoTexture();
    Scene scene(textures);

    const Round idle = measure(scene, nullptr, 0);
    std::printf("%-34s loop %6.1f fps\n", "no video, unpaced:", idle.frames_per_second);

    const Round raw = playThree(scene, clip, "raw .h264", idle, true);
    const Round container = playThree(scene, mp4, ".mp4 clips", idle, false);
    const double raw_ms = cpuMsPerPicture(raw);
    const double container_ms = cpuMsPerPicture(container);
    std::printf("CPU per decoded picture (decode, conversion, upload): raw %.2f ms, .mp4 %.2f ms\n",
                raw_ms, container_ms);
    if (raw_ms > 0.0)
        std::printf("CPU per picture .mp4 / raw: %.2f\n", container_ms / raw_ms);
    Spectrafox::glDeleteTextures(kSlots, textures);
    std::remove(clip.c_str());
    std::remove(mp4.c_str());
    rmdir(dir_pattern);
    return 0;
}
