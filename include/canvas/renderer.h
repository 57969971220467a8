#pragma once

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_manager.h"
#include "platform/graphics/display_options.h"
#include "platform/graphics/graphics_platform.h"

#include <EGL/egl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox {

// Owns the display and draws every canvas once per frame as a textured,
// tinted, alpha-blended rectangle, single or as a ring of copies, with a
// fixed orthographic projection two units wide. Main thread only.
class Renderer {
public:
    // Opens the display automatically (see DisplayOptions).
    Renderer();
    explicit Renderer(const DisplayOptions& options);
    // Leaves the screen black, then releases content, context and display.
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    void drawCanvases(std::vector<Canvas*> canvases);
    int getScreenWidth() const { return static_cast<int>(screen_width); }
    int getScreenHeight() const { return static_cast<int>(screen_height); }
    float getScreenRatio() const { return screen_ratio; }
    // 2 selects the circular ring; anything else the elliptical one.
    void setZoom(int type);
    static float correctAngleRange(float angle);

private:
    void initOpenGL();
    void initProjection();
    void drawCanvas(Canvas* canvas);
    void drawRing(Canvas* canvas, unsigned int copies);
    void placeCopy(Canvas* canvas, int j, unsigned int copies);
    [[noreturn]] static void stopOnDisplayFailure(const DisplaySetupFailure& failure);

    GraphicsPlatform* platform;
    ContentManager* content_manager = nullptr;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    uint32_t screen_width = 0;
    uint32_t screen_height = 0;
    float screen_ratio = 1.0f;
    float quadx[12];
    float color[16];
    int zoom_type = 1;
};

} // namespace Spectrafox
