#include "canvas/canvas_content/content_manager.h"

#include "canvas/canvas_content/content_example_plugin/content_example_plugin.h"
#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

namespace Spectrafox {

ContentManager::ContentManager(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                               const ContentOptions& content_options)
    : display(d), surface(s), context(c), options(content_options)
{
    loadContentPlugins();
}

ContentManager::~ContentManager()
{
    for (ContentInterface* plugin : content_plugins)
        delete plugin;
    content_plugins.clear();
    content_types.clear();
}

void ContentManager::loadContentPlugins()
{
    // The order fixes the plug-in ids: "CONTENT_EXAMPLE" is 0,
    // "CONTENT_TEXTURE_256" is 1.
    addPlugin(new ContentExamplePlugin(display, surface, context));
    addPlugin(new ContentLocalFileTexture(display, surface, context, options));
}

void ContentManager::addPlugin(ContentInterface* new_plugin)
{
    content_plugins.push_back(new_plugin);
    content_types.push_back(new_plugin->getContentTypeName());
}

int ContentManager::getPluginId(const std::string& type_name) const
{
    for (size_t i = 0; i < content_types.size(); ++i)
        if (content_types[i] == type_name)
            return static_cast<int>(i);
    return -1;
}

ContentInterface* ContentManager::findPlugin(const std::string& type_name) const
{
    const int id = getPluginId(type_name);
    return id >= 0 ? content_plugins[id] : nullptr;
}

void ContentManager::frameDone()
{
    for (ContentInterface* plugin : content_plugins)
        plugin->frameDone();
}

void ContentManager::getContentRatio(const std::string& content_type, int content_data,
                                     float* ratio)
{
    if (ContentInterface* plugin = findPlugin(content_type))
        plugin->getContentRatio(content_data, ratio);
}

void ContentManager::setContent(const std::string& content_type, int content_data)
{
    if (ContentInterface* plugin = findPlugin(content_type))
        plugin->setContent(content_data);
}

} // namespace Spectrafox
