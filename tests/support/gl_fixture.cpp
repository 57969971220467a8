#include "support/gl_fixture.h"

#include "platform/fixed_function/gl_fixed_function.h"

#include <cstdlib>

namespace Spectrafox::Test {

std::ostream& operator<<(std::ostream& out, const Rgba& p)
{
    return out << "rgba(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ", " << int(p.a)
               << ")";
}

bool near(const Rgba& a, const Rgba& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

Rgba readPixelAt(int x, int y, int surface_height)
{
    Rgba p;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    // GL counts rows from the bottom.
    glReadPixels(x, surface_height - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

std::vector<Rgba> readFrame(int width, int height)
{
    std::vector<Rgba> bottom_up(static_cast<size_t>(width) * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottom_up.data());
    std::vector<Rgba> top_down(bottom_up.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            top_down[static_cast<size_t>(y) * width + x] =
                bottom_up[static_cast<size_t>(height - 1 - y) * width + x];
    return top_down;
}

DisplayOptions HeadlessRenderer::optionsFor(int width, int height)
{
    DisplayOptions options = DisplayOptions::headless(width, height);
    options.offscreen_fps_cap = 0;
    return options;
}

HeadlessRenderer::HeadlessRenderer(int width, int height)
    : w(width), h(height), instance(optionsFor(width, height))
{
}

GLint boundTexture()
{
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

void prepareTexturedDraws()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glColor4f(1, 1, 1, 1);
}

} // namespace Spectrafox::Test
