// Frames per second at the heaviest load the configuration allows (25
// canvases with 63 copies each: 1575 draws) at 1920x1080 offscreen: the
// renderer through our fixed-function layer against a bare OpenGL ES 2.0
// loop in the same context issuing the same draws, with all geometry
// precomputed and one matrix uniform per draw. For comparison, the same
// draws through the driver's own OpenGL ES 1.1, loaded at run time in a
// context of its own ("n/a" where the driver no longer offers ES 1.x).
// Then our layer's batched draws against its per-draw path, alternating in
// the same run: draw calls per frame, frames per second at 640x360, where
// calls rather than fill dominate, and at 1920x1080, and how many pixels of
// the two frames differ. Last, the frame with the geometry pass (region,
// soft edges, keystone and mask) against the same frame without it, in
// blocks of frames alternating in the same run; `renderer_bench geometry`
// runs only that part.
#include "canvas/canvas_manager.h"
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/fixed_function/gl_fixed_function.h"

#include <EGL/egl.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <string>
#include <cstring>
#include <ctime>
#include <memory>
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

void fillArrays(const CanvasDraws& d, float* vertices, float* color)
{
    for (int v = 0; v < 4; ++v)
        for (int k = 0; k < 4; ++k)
            color[v * 4 + k] = d.rgba[k];
    const float quad[12] = {-d.sx, -d.sy, 0, d.sx, -d.sy, 0, -d.sx, d.sy, 0, d.sx, d.sy, 0};
    for (int i = 0; i < 12; ++i)
        vertices[i] = quad[i];
}

void swapCurrent()
{
    eglSwapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
}

GLuint compileShader(GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// The draws in ES 2.0 as one would write them by hand: one program, the
// matrix projection x translation x rotation built on the CPU per draw.
class BareEs2Loop {
public:
    BareEs2Loop(std::vector<CanvasDraws> all, float screen_ratio, GLuint texture_name,
                const void* coords)
        : draws(std::move(all)), ratio(screen_ratio), texture(texture_name), tex_coords(coords)
    {
        program = glCreateProgram();
        glAttachShader(program, compileShader(GL_VERTEX_SHADER, R"(
            attribute vec4 a_position; attribute vec4 a_color; attribute vec2 a_texcoord;
            uniform mat4 u_mvp; varying vec4 v_color; varying vec2 v_texcoord;
            void main() { gl_Position = u_mvp * a_position; v_color = a_color;
                          v_texcoord = a_texcoord; })"));
        glAttachShader(program, compileShader(GL_FRAGMENT_SHADER, R"(
            precision mediump float; uniform sampler2D u_texture;
            varying vec4 v_color; varying vec2 v_texcoord;
            void main() { gl_FragColor = texture2D(u_texture, v_texcoord) * v_color; })"));
        glBindAttribLocation(program, 0, "a_position");
        glBindAttribLocation(program, 1, "a_color");
        glBindAttribLocation(program, 2, "a_texcoord");
        glLinkProgram(program);
        mvp_location = glGetUniformLocation(program, "u_mvp");
    }

    void frame()
    {
        Spectrafox::glClear(GL_COLOR_BUFFER_BIT);
        float mvp[16] = {0};
        mvp[10] = -1.0f;
        mvp[15] = 1.0f;
        for (const CanvasDraws& d : draws) {
            fillArrays(d, vertices, color);
            glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 0, tex_coords);
            Spectrafox::glBindTexture(GL_TEXTURE_2D, texture);
            const double radians = d.rotation * M_PI / 180.0;
            const float c = static_cast<float>(std::cos(radians));
            const float s = static_cast<float>(std::sin(radians));
            // The projection scales y by the screen ratio; x is unchanged.
            mvp[0] = c;
            mvp[1] = s * ratio;
            mvp[4] = -s;
            mvp[5] = c * ratio;
            for (const Copy& copy : d.copies) {
                mvp[12] = copy.x;
                mvp[13] = copy.y * ratio;
                glUniformMatrix4fv(mvp_location, 1, GL_FALSE, mvp);
                ::glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            }
        }
        swapCurrent();
    }

    // Uses its own program and arrays for a round, then gives the renderer's back.
    template <typename F> void withOwnState(F run)
    {
        GLint renderer_program = 0;
        void* renderer_vertices = nullptr;
        void* renderer_colours = nullptr;
        glGetIntegerv(GL_CURRENT_PROGRAM, &renderer_program);
        glGetPointerv(GL_VERTEX_ARRAY_POINTER, &renderer_vertices);
        glGetPointerv(GL_COLOR_ARRAY_POINTER, &renderer_colours);
        Spectrafox::glUseProgram(program);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 0, vertices);
        glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, 0, color);
        run();
        Spectrafox::glUseProgram(static_cast<GLuint>(renderer_program));
        glVertexPointer(3, GL_FLOAT, 0, renderer_vertices);
        glColorPointer(4, GL_FLOAT, 0, renderer_colours);
    }

private:
    std::vector<CanvasDraws> draws;
    float ratio;
    GLuint texture;
    const void* tex_coords;
    GLuint program = 0;
    GLint mvp_location = -1;
    float vertices[12] = {0};
    float color[16] = {0};
};

// The driver's own OpenGL ES 1.1, never linked: the entry points come from
// libGLESv1_CM at run time, in a pbuffer context of the same display.
class BareEs1Loop {
public:
    BareEs1Loop(std::vector<CanvasDraws> all, float screen_ratio)
        : draws(std::move(all)), ratio(screen_ratio)
    {
        library = dlopen("libGLESv1_CM.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            why = "libGLESv1_CM.so.1 not found";
            return;
        }
        if (!loadEntryPoints()) {
            why = "libGLESv1_CM.so.1 lacks an entry point";
            return;
        }
        if (!createContext())
            return;
        with([&] { setUpState(); });
    }

    ~BareEs1Loop()
    {
        if (context != EGL_NO_CONTEXT) {
            with([&] { gl.DeleteTextures(1, &texture); });
            eglDestroyContext(display, context);
        }
        if (surface != EGL_NO_SURFACE)
            eglDestroySurface(display, surface);
        if (library)
            dlclose(library);
    }

    bool available() const { return context != EGL_NO_CONTEXT; }
    const std::string& reason() const { return why; }

    // Runs `work` with the ES 1.1 context current, then makes the caller's
    // context current again.
    template <typename F> void with(F work)
    {
        const EGLDisplay own_display = eglGetCurrentDisplay();
        const EGLSurface own_draw = eglGetCurrentSurface(EGL_DRAW);
        const EGLSurface own_read = eglGetCurrentSurface(EGL_READ);
        const EGLContext own_context = eglGetCurrentContext();
        eglMakeCurrent(display, surface, surface, context);
        work();
        eglMakeCurrent(own_display, own_draw, own_read, own_context);
    }

    void frame()
    {
        gl.Clear(GL_COLOR_BUFFER_BIT);
        for (const CanvasDraws& d : draws) {
            fillArrays(d, vertices, color);
            gl.TexCoordPointer(2, GL_FLOAT, 0, kUpright);
            gl.BindTexture(GL_TEXTURE_2D, texture);
            for (const Copy& c : d.copies) {
                gl.PushMatrix();
                gl.Translatef(c.x, c.y, 0.0f);
                gl.Rotatef(d.rotation, 0.0f, 0.0f, 1.0f);
                gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
                gl.PopMatrix();
            }
        }
        eglSwapBuffers(display, surface);
    }

    void finish() { gl.Finish(); }

private:
    static constexpr float kUpright[8] = {0, 1, 1, 1, 0, 0, 1, 0};

    struct EntryPoints {
        void (*Clear)(GLbitfield);
        void (*ClearColor)(GLfloat, GLfloat, GLfloat, GLfloat);
        void (*Enable)(GLenum);
        void (*BlendFunc)(GLenum, GLenum);
        void (*Viewport)(GLint, GLint, GLsizei, GLsizei);
        void (*MatrixMode)(GLenum);
        void (*LoadIdentity)();
        void (*MultMatrixf)(const GLfloat*);
        void (*PushMatrix)();
        void (*PopMatrix)();
        void (*Translatef)(GLfloat, GLfloat, GLfloat);
        void (*Rotatef)(GLfloat, GLfloat, GLfloat, GLfloat);
        void (*EnableClientState)(GLenum);
        void (*VertexPointer)(GLint, GLenum, GLsizei, const void*);
        void (*ColorPointer)(GLint, GLenum, GLsizei, const void*);
        void (*TexCoordPointer)(GLint, GLenum, GLsizei, const void*);
        void (*GenTextures)(GLsizei, GLuint*);
        void (*DeleteTextures)(GLsizei, const GLuint*);
        void (*BindTexture)(GLenum, GLuint);
        void (*TexParameterf)(GLenum, GLenum, GLfloat);
        void (*TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                           const void*);
        void (*DrawArrays)(GLenum, GLint, GLsizei);
        void (*Finish)();
    };

    template <typename T> bool load(T* entry, const char* name)
    {
        *entry = reinterpret_cast<T>(dlsym(library, name));
        return *entry != nullptr;
    }

    bool loadEntryPoints()
    {
        return load(&gl.Clear, "glClear") && load(&gl.ClearColor, "glClearColor") &&
               load(&gl.Enable, "glEnable") && load(&gl.BlendFunc, "glBlendFunc") &&
               load(&gl.Viewport, "glViewport") && load(&gl.MatrixMode, "glMatrixMode") &&
               load(&gl.LoadIdentity, "glLoadIdentity") && load(&gl.MultMatrixf, "glMultMatrixf") &&
               load(&gl.PushMatrix, "glPushMatrix") && load(&gl.PopMatrix, "glPopMatrix") &&
               load(&gl.Translatef, "glTranslatef") && load(&gl.Rotatef, "glRotatef") &&
               load(&gl.EnableClientState, "glEnableClientState") &&
               load(&gl.VertexPointer, "glVertexPointer") &&
               load(&gl.ColorPointer, "glColorPointer") &&
               load(&gl.TexCoordPointer, "glTexCoordPointer") &&
               load(&gl.GenTextures, "glGenTextures") &&
               load(&gl.DeleteTextures, "glDeleteTextures") &&
               load(&gl.BindTexture, "glBindTexture") &&
               load(&gl.TexParameterf, "glTexParameterf") && load(&gl.TexImage2D, "glTexImage2D") &&
               load(&gl.DrawArrays, "glDrawArrays") && load(&gl.Finish, "glFinish");
    }

    bool createContext()
    {
        display = eglGetCurrentDisplay();
        const EGLint config_attributes[] = {EGL_RED_SIZE,        8,
                                            EGL_GREEN_SIZE,      8,
                                            EGL_BLUE_SIZE,       8,
                                            EGL_ALPHA_SIZE,      8,
                                            EGL_SURFACE_TYPE,    EGL_PBUFFER_BIT,
                                            EGL_RENDERABLE_TYPE, EGL_OPENGL_ES_BIT,
                                            EGL_NONE};
        EGLConfig config;
        EGLint count = 0;
        if (!eglChooseConfig(display, config_attributes, &config, 1, &count) || count < 1) {
            why = "no EGL config for OpenGL ES 1.x pbuffers";
            return false;
        }
        const EGLint surface_attributes[] = {EGL_WIDTH, kWidth, EGL_HEIGHT, kHeight, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, surface_attributes);
        const EGLint context_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
        if (surface != EGL_NO_SURFACE)
            context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
        if (context == EGL_NO_CONTEXT) {
            char text[64];
            std::snprintf(text, sizeof text, "the driver refuses an ES 1.1 context (EGL 0x%x)",
                          static_cast<unsigned>(eglGetError()));
            why = text;
            return false;
        }
        return true;
    }

    // The renderer's fixed state, the example plug-in's yellow texel.
    void setUpState()
    {
        gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl.Enable(GL_BLEND);
        gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        gl.Enable(GL_TEXTURE_2D);
        gl.Viewport(0, 0, kWidth, kHeight);
        gl.MatrixMode(GL_PROJECTION);
        gl.LoadIdentity();
        const float ortho[16] = {1, 0, 0, 0, 0, ratio, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
        gl.MultMatrixf(ortho);
        gl.MatrixMode(GL_MODELVIEW);
        gl.LoadIdentity();
        gl.EnableClientState(GL_VERTEX_ARRAY);
        gl.VertexPointer(3, GL_FLOAT, 0, vertices);
        gl.EnableClientState(GL_COLOR_ARRAY);
        gl.ColorPointer(4, GL_FLOAT, 0, color);
        gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        const unsigned char yellow[4] = {255, 255, 0, 255};
        gl.GenTextures(1, &texture);
        gl.BindTexture(GL_TEXTURE_2D, texture);
        gl.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        gl.TexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, yellow);
    }

    std::vector<CanvasDraws> draws;
    float ratio;
    void* library = nullptr;
    EntryPoints gl{};
    std::string why;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint texture = 0;
    float vertices[12] = {0};
    float color[16] = {0};
};

std::vector<unsigned char> readCurrentFrame(int width = kWidth, int height = kHeight)
{
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    Spectrafox::glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// How many pixels of two frames differ, and by how many levels at most.
void compareFrames(const char* what, const std::vector<unsigned char>& ours,
                   const std::vector<unsigned char>& other)
{
    int largest = 0;
    long differing = 0;
    for (size_t i = 0; i < ours.size(); i += 4) {
        int pixel = 0;
        for (size_t k = 0; k < 4; ++k)
            pixel = std::max(pixel, std::abs(int(ours[i + k]) - int(other[i + k])));
        largest = std::max(largest, pixel);
        differing += pixel > 0 ? 1 : 0;
    }
    std::printf("%s: %ld of %zu pixels differ, by %d levels at most\n", what, differing,
                ours.size() / 4, largest);
}

// Seconds one frame takes, its queued work finished.
template <typename F, typename G> double timeFrame(F frame, G finish)
{
    const Clock::time_point start = Clock::now();
    frame();
    finish();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void finishCurrent()
{
    Spectrafox::glFinish();
}

void compareWithBareLoops()
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
    const std::vector<CanvasDraws> draws = precompute(manager);
    BareEs2Loop bare(draws, manager.getScreenRatio(), static_cast<GLuint>(texture), coords);
    bare.withOwnState([&] { bare.frame(); });
    Spectrafox::glFinish();
    BareEs1Loop es1(draws, manager.getScreenRatio());
    if (es1.available()) {
        manager.renderFrame();
        const std::vector<unsigned char> ours = readCurrentFrame();
        std::vector<unsigned char> theirs;
        es1.with([&] {
            es1.frame();
            es1.finish();
            theirs = readCurrentFrame();
        });
        compareFrames("renderer frame vs GLES 1.1 frame", ours, theirs);
    }

    // Frames alternate one by one, so the load of other processes on the
    // machine falls on all sides alike.
    double renderer_seconds = 0.0;
    double bare_seconds = 0.0;
    double es1_seconds = 0.0;
    int frames = 0;
    const Clock::time_point start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < kSeconds) {
        renderer_seconds += timeFrame([&] { manager.renderFrame(); }, finishCurrent);
        bare.withOwnState(
            [&] { bare_seconds += timeFrame([&] { bare.frame(); }, finishCurrent); });
        if (es1.available())
            es1.with([&] {
                es1_seconds += timeFrame([&] { es1.frame(); }, [&] { es1.finish(); });
            });
        ++frames;
    }
    const double renderer_fps = frames / renderer_seconds;
    const double bare_fps = frames / bare_seconds;
    std::printf("%d draws per frame at %dx%d offscreen, %d frames each (%s, %s)\n",
                kCanvases * kCopies, kWidth, kHeight, frames,
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("renderer (CanvasManager::renderFrame): %.2f fps\n", renderer_fps);
    std::printf("bare GLES 2.0 loop, same draws:       %.2f fps\n", bare_fps);
    if (es1.available())
        std::printf("bare GLES 1.1 loop, same draws:       %.2f fps (driver's own, comparison)\n",
                    frames / es1_seconds);
    else
        std::printf("bare GLES 1.1 loop, same draws:       n/a (%s)\n", es1.reason().c_str());
    std::printf("ratio renderer / bare GLES 2.0: %.3f (target >= 0.90)\n", renderer_fps / bare_fps);
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Wall-clock and render-thread CPU seconds of frames, added up. The driver's
// cost per call lands on the render thread; llvmpipe's fill on its own
// threads, which the render thread waits for.
struct FrameTimes {
    double wall = 0.0;
    double cpu = 0.0;
    void add(CanvasManager& manager)
    {
        const double cpu_start = threadCpuSeconds();
        wall += timeFrame([&] { manager.renderFrame(); }, finishCurrent);
        cpu += threadCpuSeconds() - cpu_start;
    }
};

void setBatching(bool on)
{
    FixedFunctionPipeline::instance().setBatching(on);
}

// Draw calls one frame hands to the driver.
unsigned long drawCallsOfFrame(CanvasManager& manager)
{
    const unsigned long before = FixedFunctionPipeline::instance().drawCalls();
    manager.renderFrame();
    return FixedFunctionPipeline::instance().drawCalls() - before;
}

void compareBatching(int width, int height, double seconds)
{
    DisplayOptions options = DisplayOptions::headless(width, height);
    options.offscreen_fps_cap = 0;
    CanvasManager manager(options);
    setUpCanvases(manager);

    unsigned long per_draw_calls = 0;
    unsigned long batched_calls = 0;
    // Both ring modes; the elliptical one (1) stays for the timing.
    for (const int ring_mode : {2, 1}) {
        manager.setZoom(ring_mode);
        setBatching(false);
        per_draw_calls = drawCallsOfFrame(manager);
        const std::vector<unsigned char> per_draw_frame = readCurrentFrame(width, height);
        setBatching(true);
        batched_calls = drawCallsOfFrame(manager);
        const std::string what = "ring mode " + std::to_string(ring_mode) +
                                 ", batched frame vs per-draw frame";
        compareFrames(what.c_str(), readCurrentFrame(width, height), per_draw_frame);
    }

    FrameTimes batched;
    FrameTimes per_draw;
    int frames = 0;
    const Clock::time_point start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        setBatching(true);
        batched.add(manager);
        setBatching(false);
        per_draw.add(manager);
        ++frames;
    }
    setBatching(true);
    std::printf("%dx%d, %d frames each: draw calls per frame %lu batched, %lu per draw\n", width,
                height, frames, batched_calls, per_draw_calls);
    std::printf("  batched %.2f fps, per draw %.2f fps: ratio %.2f (target >= 2 at 640x360)\n",
                frames / batched.wall, frames / per_draw.wall, per_draw.wall / batched.wall);
    std::printf("  render thread CPU per frame: batched %.2f ms, per draw %.2f ms: ratio %.2f\n",
                1e3 * batched.cpu / frames, 1e3 * per_draw.cpu / frames,
                per_draw.cpu / batched.cpu);
}

Geometry geometryOf(const std::vector<const char*>& lines)
{
    Geometry geometry;
    std::string refusal;
    for (const char* line : lines)
        geometry.applyLine(line, &refusal);
    return geometry;
}

std::shared_ptr<const MaskPicture> gradientMask()
{
    auto mask = std::make_shared<MaskPicture>();
    mask->width = kWidth;
    mask->height = kHeight;
    mask->values.resize(static_cast<size_t>(kWidth) * kHeight);
    for (size_t i = 0; i < mask->values.size(); ++i)
        mask->values[i] = static_cast<uint8_t>(255 - (i % kWidth) * 64 / kWidth);
    return mask;
}

// The frame without geometry, the two-projector node's soft edge (drawn
// straight, the edge's strip multiplied by its light) and the
// heaviest shaping (a keystone and a mask over the whole output as well:
// drawn through the warped projection, all of it multiplied by its light),
// in turns of a few frames.
void compareGeometry(double seconds)
{
    constexpr int kBlock = 25;
    DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
    options.offscreen_fps_cap = 0;
    CanvasManager manager(options);
    setUpCanvases(manager);
    Renderer& output = manager.output();
    const std::shared_ptr<const MaskPicture> mask = gradientMask();
    // No REGION: it changes only the projection, but magnifies the canvases
    // (more pixels to fill), which is not the pass's cost.
    const Geometry blended = geometryOf({"BLEND_LEFT=0.1818"});
    const Geometry warped = geometryOf({"BLEND_LEFT=0.1818", "MASK=bench.png",
                                        "WARP=0.03,0.02 0.98,0.06 0.95,0.97 0.01,0.93"});
    const struct {
        const char* name;
        const Geometry* geometry;
    } kinds[] = {{"without geometry", nullptr}, {"soft edge", &blended}, {"+ keystone, mask", &warped}};
    FrameTimes times[3];
    int frames = 0;
    const Clock::time_point start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        for (int k = 0; k < 3; ++k) {
            // The switch is taken by an untimed frame.
            const Geometry& geometry = kinds[k].geometry ? *kinds[k].geometry : Geometry();
            output.setGeometry(geometry, geometry.mask.empty() ? nullptr : mask);
            manager.renderFrame();
            for (int i = 0; i < kBlock; ++i)
                times[k].add(manager);
        }
        frames += kBlock;
    }
    std::printf("geometry pass at %dx%d, %d draws, %d frames each (%s)\n", kWidth, kHeight,
                kCanvases * kCopies, frames, reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    for (int k = 0; k < 3; ++k)
        std::printf("  %-20s %6.2f fps, ratio to without %.3f%s\n", kinds[k].name, frames / times[k].wall,
                    times[0].wall / times[k].wall, k ? " (target >= 0.85)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "geometry") == 0) {
        compareGeometry(2 * kSeconds);
        return 0;
    }
    compareWithBareLoops();
    compareBatching(640, 360, kSeconds / 2);
    compareBatching(kWidth, kHeight, kSeconds / 2);
    compareGeometry(kSeconds / 2);
    return 0;
}
