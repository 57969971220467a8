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
    explicit Renderer(const DisplayOptions& options, const ContentOptions& content = ContentOptions());
    // Leaves the screen black, then releases content, context and display.
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    void drawCanvases(const std::vector<Canvas*>& canvases);
    // The plug-in serving a content type, null for none; valid while the
    // renderer lives.
    ContentInterface* findContent(const std::string& content_type) const;
    int getScreenWidth() const { return static_cast<int>(screen_width); }
    int getScreenHeight() const { return static_cast<int>(screen_height); }
    float getScreenRatio() const { return screen_ratio; }
    // 2 selects the circular ring; anything else the elliptical one.
    void setZoom(int type);
    static float correctAngleRange(float angle);

private:
    void initOpenGL();
    void initProjection();
    void drawCanvas(Canvas* canvas, int index);
    ContentInterface* contentOf(const Canvas* canvas) const;
    void setColour(const Canvas* canvas);
    void setHalfSizes(const Canvas* canvas, ContentInterface* content, int data);
    void drawSingle(const Canvas* canvas);
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
