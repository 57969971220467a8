#include "canvas/canvas_manager.h"

namespace Spectrafox {

CanvasManager::CanvasManager() : CanvasManager(DisplayOptions()) {}

CanvasManager::CanvasManager(const DisplayOptions& options, const VideoCueOptions& video)
    : renderer(new Renderer(options, video)), fpsc(new FPS_Counter())
{
}

CanvasManager::~CanvasManager()
{
    for (Canvas* canvas : canvases_list)
        delete canvas;
    canvases_list.clear();
    canvas_groups.clear();
    delete renderer;
    delete fpsc;
}

int CanvasManager::generateCanvasGroup(int num, const std::string& type)
{
    // Resolved once for the whole group, not by name every frame.
    ContentInterface* plugin = renderer->findContent(type);
    std::vector<Canvas*> group;
    for (int i = 0; i < num; ++i) {
        Canvas* canvas = new Canvas(type, plugin);
        group.push_back(canvas);
        canvases_list.push_back(canvas);
    }
    canvas_groups.push_back(group);
    return static_cast<int>(canvas_groups.size()) - 1;
}

std::vector<Canvas*> CanvasManager::getCanvasGroup(int id)
{
    if (id < 0 || static_cast<size_t>(id) >= canvas_groups.size())
        return {};
    return canvas_groups[id];
}

std::vector<Canvas*> CanvasManager::getAllCanvases()
{
    return canvases_list;
}

void CanvasManager::renderFrame()
{
    fpsc->tick();
    for (Canvas* canvas : canvases_list)
        canvas->frameStep();
    renderer->drawCanvases(canvases_list);
}

float CanvasManager::getFPS()
{
    return fpsc->getFPS();
}

void CanvasManager::setZoom(int type)
{
    renderer->setZoom(type);
}

int CanvasManager::getScreenWidth()
{
    return renderer->getScreenWidth();
}

int CanvasManager::getScreenHeight()
{
    return renderer->getScreenHeight();
}

float CanvasManager::getScreenRatio()
{
    return renderer->getScreenRatio();
}

} // namespace Spectrafox
