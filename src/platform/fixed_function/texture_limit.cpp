#include "platform/fixed_function/texture_limit.h"

#include <GLES2/gl2.h>

#include <algorithm>

namespace Spectrafox {

int TextureLimit::gpuSide()
{
    GLint side = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
    return side > 0 ? side : kFallbackSide;
}

int TextureLimit::videoSide() { return std::min(gpuSide(), kLargestVideoSide); }

} // namespace Spectrafox
