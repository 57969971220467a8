#include "canvas/canvas_content/content_example_plugin/content_example_plugin.h"

namespace Spectrafox {

namespace {
// Upright: texture row 0 (the first uploaded row) at the top of the quad.
constexpr float kUprightCoords[8] = {0, 1, 1, 1, 0, 0, 1, 0};
} // namespace

ContentExamplePlugin::ContentExamplePlugin(EGLDisplay*, EGLSurface*, EGLContext*)
{
    for (int i = 0; i < 8; ++i)
        texCoords[i] = kUprightCoords[i];
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    size_x = 1;
    size_y = 1;

    const unsigned char opaque_yellow[4] = {255, 255, 0, 255}; // red, green, blue, alpha
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size_x, size_y, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 opaque_yellow);
}

ContentExamplePlugin::~ContentExamplePlugin()
{
    glDeleteTextures(1, &texture);
}

std::string ContentExamplePlugin::getContentTypeName()
{
    return "CONTENT_EXAMPLE";
}

void ContentExamplePlugin::getContentRatio(int, float* ratio)
{
    *ratio = static_cast<float>(size_y) / static_cast<float>(size_x);
}

void ContentExamplePlugin::setContent(int)
{
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glBindTexture(GL_TEXTURE_2D, texture);
}

} // namespace Spectrafox
