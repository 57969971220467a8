// The render thread's time per frame with three video textures held as YUV
// planes (converted in the shader) against three RGBA ones (converted by
// libswscale on the CPU, as the video path does today), alternating in the
// same run at 1920x1080 offscreen: each frame, a new 1280x720 picture for
// each texture, then the three drawn side by side over the whole frame.
// Also the frame without new pictures, where only the shader's cost shows,
// and the bytes handed to GL per picture.
#include "canvas/canvas_manager.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/yuv_texture.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

// Inside the namespace the calls reach our layer, as in the drawing code.
namespace Spectrafox {
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPictureWidth = 1280;
constexpr int kPictureHeight = 720;
constexpr int kTextures = 3;
constexpr double kSeconds = 8.0;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A moving gradient, so that no two pictures are the same.
struct Picture {
    std::vector<uint8_t> planes[3];
    int linesize[3] = {kPictureWidth, kPictureWidth / 2, kPictureWidth / 2};
    Picture()
    {
        planes[0].resize(static_cast<size_t>(kPictureWidth) * kPictureHeight);
        planes[1].resize(planes[0].size() / 4);
        planes[2].resize(planes[0].size() / 4);
    }
    void next(int frame)
    {
        for (size_t i = 0; i < planes[0].size(); ++i)
            planes[0][i] = static_cast<uint8_t>(16 + (i + frame) % 219);
        for (size_t i = 0; i < planes[1].size(); ++i) {
            planes[1][i] = static_cast<uint8_t>(64 + (i / 7 + frame) % 128);
            planes[2][i] = static_cast<uint8_t>(64 + (i / 5 + frame) % 128);
        }
    }
    YuvPlanes yuv() const
    {
        YuvPlanes p;
        p.width = kPictureWidth;
        p.height = kPictureHeight;
        for (int k = 0; k < 3; ++k) {
            p.data[k] = planes[k].data();
            p.linesize[k] = linesize[k];
        }
        return p;
    }
};

struct RgbaTextures {
    GLuint names[kTextures] = {};
    SwsContext* converter = nullptr;
    std::vector<uint8_t> rgba = std::vector<uint8_t>(size_t(kPictureWidth) * kPictureHeight * 4);
    RgbaTextures()
    {
        glGenTextures(kTextures, names);
        for (GLuint name : names) {
            glBindTexture(GL_TEXTURE_2D, name);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kPictureWidth, kPictureHeight, 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, nullptr);
        }
        converter = sws_getContext(kPictureWidth, kPictureHeight, AV_PIX_FMT_YUV420P, kPictureWidth,
                                   kPictureHeight, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr);
    }
    ~RgbaTextures()
    {
        sws_freeContext(converter);
        glDeleteTextures(kTextures, names);
    }
    void upload(int index, const Picture& picture)
    {
        const uint8_t* src[4] = {picture.planes[0].data(), picture.planes[1].data(),
                                 picture.planes[2].data(), nullptr};
        const int src_lines[4] = {picture.linesize[0], picture.linesize[1], picture.linesize[2], 0};
        uint8_t* dst[4] = {rgba.data(), nullptr, nullptr, nullptr};
        const int dst_lines[4] = {kPictureWidth * 4, 0, 0, 0};
        sws_scale(converter, src, src_lines, 0, kPictureHeight, dst, dst_lines);
        glBindTexture(GL_TEXTURE_2D, names[index]);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kPictureWidth, kPictureHeight, GL_RGBA,
                        GL_UNSIGNED_BYTE, rgba.data());
    }
    void bind(int index) { glBindTexture(GL_TEXTURE_2D, names[index]); }
};

void drawThird(int index)
{
    const float left = -1.0f + 2.0f * index / kTextures;
    const float right = left + 2.0f / kTextures;
    const float vertices[12] = {left, -1, 0, right, -1, 0, left, 1, 0, right, 1, 0};
    static const float coords[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glTexCoordPointer(2, GL_FLOAT, 0, coords);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

struct Times {
    double wall = 0.0;
    double cpu = 0.0;
    void add(const std::function<void()>& frame)
    {
        const double cpu_start = threadCpuSeconds();
        const Clock::time_point start = Clock::now();
        frame();
        glFinish();
        wall += std::chrono::duration<double>(Clock::now() - start).count();
        cpu += threadCpuSeconds() - cpu_start;
    }
};

void report(const char* what, int frames, const Times& yuv, const Times& rgba)
{
    std::printf("%s, %d frames each:\n", what, frames);
    std::printf("  wall per frame: YUV %.2f ms, RGBA %.2f ms: ratio YUV/RGBA %.2f\n",
                1e3 * yuv.wall / frames, 1e3 * rgba.wall / frames, yuv.wall / rgba.wall);
    std::printf("  render thread CPU per frame: YUV %.2f ms, RGBA %.2f ms: ratio %.2f\n",
                1e3 * yuv.cpu / frames, 1e3 * rgba.cpu / frames, yuv.cpu / rgba.cpu);
}

int runBench()
{
    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    CanvasManager manager(options); // the context, as the program makes it
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(1, 1, 1, 1);

    Picture picture;
    RgbaTextures rgba;
    YuvTexture yuv[kTextures];
    const YuvColour colour{YuvMatrix::Bt709, YuvRange::Limited};
    for (int k = 0; k < kTextures; ++k)
        yuv[k].upload(picture.yuv(), colour, kWidth);

    for (const bool new_pictures : {true, false}) {
        Times yuv_times;
        Times rgba_times;
        int frames = 0;
        const Clock::time_point start = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - start).count() < kSeconds / 2) {
            if (new_pictures)
                picture.next(frames);
            yuv_times.add([&] {
                for (int k = 0; k < kTextures; ++k) {
                    if (new_pictures)
                        yuv[k].upload(picture.yuv(), colour, kWidth);
                    yuv[k].bind();
                    drawThird(k);
                }
            });
            rgba_times.add([&] {
                for (int k = 0; k < kTextures; ++k) {
                    if (new_pictures)
                        rgba.upload(k, picture);
                    rgba.bind(k);
                    drawThird(k);
                }
            });
            ++frames;
        }
        report(new_pictures ? "three new 1280x720 pictures a frame (convert, upload, draw)"
                            : "three textures drawn, no new pictures (the shader's cost)",
               frames, yuv_times, rgba_times);
    }
    std::printf("bytes to GL per 1280x720 picture: YUV %zu, RGBA %zu: %.2f and %.2f a pixel\n",
                yuv[0].uploadedBytes(), rgba.rgba.size(),
                double(yuv[0].uploadedBytes()) / (kPictureWidth * kPictureHeight),
                double(rgba.rgba.size()) / (kPictureWidth * kPictureHeight));
    return 0;
}

} // namespace
} // namespace Spectrafox

int main()
{
    return Spectrafox::runBench();
}
