// Frames per second at the heaviest load the configuration allows (25
// canvases with 63 copies each: 1575 draws) at 1920x1080 offscreen, against
// a bare GLES 1.1 loop in the same context issuing the same draws with all
// geometry precomputed.
#include "canvas/canvas_manager.h"

#include <EGL/egl.h>
#include <GLES/gl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kCanvases = 25;
constexpr unsigned int kCopies = 63;
constexpr double kSeconds = 12.0;

struct Copy {
    float x, y; // translation of the copy, projection units
};

struct CanvasDraws {
    float rgba[4];
    float sx, sy, rotation;
    std::vector<Copy> copies;
};

void setUpCanvases(CanvasManager& manager)
{
    manager.generateCanvasGroup(kCanvases, "CONTENT_EXAMPLE");
    const auto canvases = manager.getAllCanvases();
    for (int i = 0; i < kCanvases; ++i) {
        Canvas* canvas = canvases[i];
        canvas->setPositionX(-0.8f + 0.064f * i);
        canvas->setPositionY(0.02f * (i % 5) - 0.04f);
        canvas->setScalingX(0.05f);
        canvas->setScalingY(0.03f);
        canvas->setRotation(7.0f * i);
        canvas->setNumber(kCopies);
        canvas->setZoom(0.1f + 0.01f * i);
        canvas->setRotationAll(3.0f * i);
        canvas->setR(1.0f);
        canvas->setG(0.1f * (i % 10));
        canvas->setB(0.5f);
        canvas->setAlpha(0.8f);
    }
}

// The same placement as the renderer's elliptical ring, computed once.
std::vector<CanvasDraws> precompute(CanvasManager& manager)
{
    const float ratio = manager.getScreenRatio();
    std::vector<CanvasDraws> draws;
    for (Canvas* canvas : manager.getAllCanvases()) {
        CanvasDraws d{{canvas->getR(), canvas->getG(), canvas->getB(), canvas->getAlpha()},
                      canvas->getScalingX(), canvas->getScalingY(), canvas->getRotation(), {}};
        const unsigned int n = canvas->getNumber();
        for (int j = static_cast<int>(n) - 1; j >= 0; --j) {
            const float theta = static_cast<float>(canvas->getRotationAll() * M_PI / 180.0 +
                                                   (2.0 * M_PI / n) * j);
            d.copies.push_back({canvas->getPositionX() - 2.0f * canvas->getZoom() * std::cos(theta),
                                -canvas->getPositionY() -
                                    2.0f * canvas->getZoom() * std::sin(theta) / ratio});
        }
        draws.push_back(d);
    }
    return draws;
}

class BareLoop {
public:
    BareLoop(std::vector<CanvasDraws> all, GLuint texture_name, const void* coords)
        : draws(std::move(all)), texture(texture_name), tex_coords(coords)
    {
    }

    void frame()
    {
        glClear(GL_COLOR_BUFFER_BIT);
        for (const CanvasDraws& d : draws) {
            for (int v = 0; v < 4; ++v)
                for (int k = 0; k < 4; ++k)
                    color[v * 4 + k] = d.rgba[k];
            const float quad[12] = {-d.sx, -d.sy, 0, d.sx, -d.sy, 0, -d.sx, d.sy, 0, d.sx, d.sy, 0};
            for (int i = 0; i < 12; ++i)
                vertices[i] = quad[i];
            glTexCoordPointer(2, GL_FLOAT, 0, tex_coords);
            glBindTexture(GL_TEXTURE_2D, texture);
            for (const Copy& c : d.copies) {
                glPushMatrix();
                glTranslatef(c.x, c.y, 0.0f);
                glRotatef(d.rotation, 0.0f, 0.0f, 1.0f);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
                glPopMatrix();
            }
        }
        eglSwapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
    }

    // Uses its own client arrays for a round, then gives the renderer's back.
    template <typename F> void withOwnArrays(F run)
    {
        void* renderer_vertices = nullptr;
        void* renderer_colours = nullptr;
        glGetPointerv(GL_VERTEX_ARRAY_POINTER, &renderer_vertices);
        glGetPointerv(GL_COLOR_ARRAY_POINTER, &renderer_colours);
        glVertexPointer(3, GL_FLOAT, 0, vertices);
        glColorPointer(4, GL_FLOAT, 0, color);
        run();
        glVertexPointer(3, GL_FLOAT, 0, renderer_vertices);
        glColorPointer(4, GL_FLOAT, 0, renderer_colours);
    }

private:
    std::vector<CanvasDraws> draws;
    GLuint texture;
    const void* tex_coords;
    float vertices[12] = {0};
    float color[16] = {0};
};

// Seconds one frame takes, its queued work finished.
template <typename F> double timeFrame(F frame)
{
    const Clock::time_point start = Clock::now();
    frame();
    glFinish();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main()
{
    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    CanvasManager manager(options);
    setUpCanvases(manager);
    manager.renderFrame(); // warms up, and leaves the example texture bound

    GLint texture = 0;
    void* coords = nullptr;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &coords);
    BareLoop bare(precompute(manager), static_cast<GLuint>(texture), coords);
    bare.withOwnArrays([&] { bare.frame(); });
    glFinish();

    // Frames alternate one by one, so the load of other processes on the
    // machine falls on both sides alike.
    double renderer_seconds = 0.0;
    double bare_seconds = 0.0;
    int frames = 0;
    const Clock::time_point start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < kSeconds) {
        renderer_seconds += timeFrame([&] { manager.renderFrame(); });
        bare.withOwnArrays([&] { bare_seconds += timeFrame([&] { bare.frame(); }); });
        ++frames;
    }
    const double renderer_fps = frames / renderer_seconds;
    const double bare_fps = frames / bare_seconds;
    std::printf("%d draws per frame at %dx%d offscreen, %d frames each (%s)\n",
                kCanvases * kCopies, kWidth, kHeight, frames, reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("renderer (CanvasManager::renderFrame): %.2f fps\n", renderer_fps);
    std::printf("bare GLES 1.1 loop, same draws:       %.2f fps\n", bare_fps);
    std::printf("ratio renderer / bare: %.3f (target >= 0.90)\n", renderer_fps / bare_fps);
    return 0;
}
