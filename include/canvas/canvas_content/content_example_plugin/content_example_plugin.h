#pragma once

#include "canvas/canvas_content/content_interface.h"

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"

namespace Spectrafox {

// The smallest complete plug-in, "CONTENT_EXAMPLE": one opaque yellow texel
// for every content number, so a canvas shows its own colour without blue.
class ContentExamplePlugin : public ContentInterface {
public:
    // Needs the GL context current; the handles are not used.
    ContentExamplePlugin(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~ContentExamplePlugin() override;
    ContentExamplePlugin(const ContentExamplePlugin&) = delete;
    ContentExamplePlugin& operator=(const ContentExamplePlugin&) = delete;

    std::string getContentTypeName() override;
    void getContentRatio(int content_data, float* ratio) override;
    void setContent(int content_data) override;

private:
    float texCoords[8];
    GLuint texture = 0;
    int size_x = 1;
    int size_y = 1;
};

} // namespace Spectrafox
