#pragma once

#include "canvas/canvas.h"
#include "canvas/fps_counter.h"
#include "canvas/renderer.h"
#include "platform/graphics/display_options.h"

#include <string>
#include <vector>

namespace Spectrafox {

// Owns every canvas, the renderer and the frame-rate counter; makes one frame
// per renderFrame. Groups are only ever added. The Art-Net thread may call
// getCanvasGroup and getScreenRatio once the groups are made.
class CanvasManager {
public:
    CanvasManager();
    explicit CanvasManager(const DisplayOptions& options, const ContentOptions& content = ContentOptions());
    ~CanvasManager();
    CanvasManager(const CanvasManager&) = delete;
    CanvasManager& operator=(const CanvasManager&) = delete;

    // Adds a group of num canvases showing `type`; returns its id.
    int generateCanvasGroup(int num, const std::string& type);
    // A copy; an id no call returned gives an empty list.
    std::vector<Canvas*> getCanvasGroup(int id);
    std::vector<Canvas*> getAllCanvases();
    void renderFrame();
    float getFPS();
    void setZoom(int type);
    int getScreenWidth();
    int getScreenHeight();
    // The stage's ratio (see Renderer::getScreenRatio); any thread.
    float getScreenRatio();
    const std::atomic<float>& stageRatio() const { return renderer->stageRatio(); }
    // The renderer, for the geometry and the test pattern.
    Renderer& output() { return *renderer; }
    // The plug-in serving a content type, null for none (main thread).
    ContentInterface* findContent(const std::string& content_type) const;

private:
    std::vector<std::vector<Canvas*>> canvas_groups;
    std::vector<Canvas*> canvases_list;
    Renderer* renderer;
    FPS_Counter* fpsc;
};

} // namespace Spectrafox
