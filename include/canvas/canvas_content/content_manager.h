#pragma once

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_options.h"

#include <EGL/egl.h>

#include <string>
#include <vector>

namespace Spectrafox {

// Creates the content plug-ins, owns them and routes calls to them by type
// name. Lives exactly as long as the renderer, on its thread, with the GL
// context current from construction to destruction.
class ContentManager {
public:
    ContentManager(EGLDisplay* display, EGLSurface* surface, EGLContext* context,
                   const ContentOptions& options = ContentOptions());
    // Deletes the plug-ins from the first registered to the last.
    ~ContentManager();
    ContentManager(const ContentManager&) = delete;
    ContentManager& operator=(const ContentManager&) = delete;

    // An unregistered type leaves *ratio as the caller set it.
    void getContentRatio(const std::string& content_type, int content_data, float* ratio);
    // An unregistered type binds nothing and keeps the coordinates as they are.
    void setContent(const std::string& content_type, int content_data);
    // The first plug-in registered under type_name, null when there is none.
    // Plug-ins live as long as the manager, so callers may keep the pointer
    // rather than look the name up every frame.
    ContentInterface* findPlugin(const std::string& type_name) const;
    // Tells every plug-in that the frame's canvases are done.
    void frameDone();

private:
    friend class ContentManagerTestAccess;

    void loadContentPlugins();
    void addPlugin(ContentInterface* new_plugin);
    int getPluginId(const std::string& type_name) const;

    std::vector<std::string> content_types;
    std::vector<ContentInterface*> content_plugins;
    EGLDisplay* display;
    EGLSurface* surface;
    EGLContext* context;
    ContentOptions options;
};

} // namespace Spectrafox
