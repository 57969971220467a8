#pragma once

#include "base/geometry.h"
#include "canvas/canvas.h"
#include "canvas/canvas_content/content_manager.h"
#include "canvas/test_pattern.h"
#include "platform/graphics/display_options.h"
#include "platform/graphics/geometry_pass.h"
#include "platform/graphics/light_map.h"
#include "platform/graphics/graphics_platform.h"
#include "platform/graphics/mask_picture.h"

#include <EGL/egl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    // The stage's width/height ratio: the output's, unless REGION makes this
    // node show part of a larger stage. Any thread.
    float getScreenRatio() const { return stage_ratio.load(std::memory_order_relaxed); }
    const std::atomic<float>& stageRatio() const { return stage_ratio; }

    // Any thread: the geometry (checked, mask decoded or null) that the next
    // frame is drawn with. The stage ratio follows at once; the pass's light
    // is worked out here, on the caller's thread.
    void setGeometry(const Geometry& geometry, std::shared_ptr<const MaskPicture> mask);
    // Any thread: the test pattern instead of the canvases.
    void setTestPattern(bool on) { test_pattern.store(on); }
    void toggleTestPattern() { test_pattern.store(!test_pattern.load()); }
    // Any thread: the desk's identify shows the pattern too, without touching
    // what the operator switched.
    void setIdentify(bool on) { identify.store(on); }
    bool testPatternOn() const { return test_pattern.load() || identify.load(); }
    // Render thread: the lines (name, address) written on the test pattern
    // above its output size and region.
    void setTestPatternLabel(const std::vector<std::string>& lines) { pattern_label = lines; }
    // Render thread: where the geometry pass's failure is said.
    void setNotice(std::function<void(const std::string&)> notice) { say = std::move(notice); }
    // Whether frames now take the extra pass (render thread).
    bool shapesFrames() const { return pass_active; }
    // 2 selects the circular ring; anything else the elliptical one.
    void setZoom(int type);
    static float correctAngleRange(float angle);

private:
    void initOpenGL();
    void initProjection();
    void loadProjection();
    void takePendingGeometry();
    void applyGeometry(const Geometry& wanted, const LightMap* light);
    void drawTestPattern();
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

    // The geometry handed over by setGeometry, taken at the next frame. The
    // lock guards these fields and nothing else.
    std::mutex pending_lock;
    bool geometry_pending = false;
    Geometry pending_geometry;
    float pending_ratio = 1.0f;
    std::shared_ptr<const LightMap> pending_light;
    bool last_set_pattern = false;
    std::atomic<float> stage_ratio{1.0f};
    std::atomic<bool> test_pattern{false};
    std::atomic<bool> identify{false};
    // Render thread only.
    Geometry geometry;
    float drawn_ratio = 1.0f; // the stage ratio of `geometry`
    std::unique_ptr<GeometryPass> pass;
    bool pass_active = false;
    std::vector<std::string> pattern_label;
    std::function<void(const std::string&)> say;
};

} // namespace Spectrafox
