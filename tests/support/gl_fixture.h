#pragma once

// Headless rendering for tests.
//
//   HeadlessRenderer gl(320, 180);      // a real Renderer on SDL's offscreen
//                                       // driver: EGL pbuffer, GLES 2.0 context
//                                       // current on this thread, no fps cap
//   gl.renderer().drawCanvases({&c});   // draw (and "swap") one frame
//   Rgba p = gl.pixelAt(x, y);          // x from the left, y from the top
//   std::vector<Rgba> all = gl.frame(); // width*height pixels, top row first
//   gl.display(), gl.context()          // the EGL handles the Renderer holds
//
// Pixels can be read after drawCanvases: an offscreen pbuffer keeps its
// contents across the swap. readPixelAt/readFrame work on any current
// context of the given size (no Renderer needed). GlTest is a gtest fixture
// with a 320x180 HeadlessRenderer named `gl`. Only one Renderer may exist at
// a time per thread (it owns the SDL video subsystem).

#include "canvas/renderer.h"

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace Spectrafox::Test {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const Rgba& o) const { return !(*this == o); }
};
std::ostream& operator<<(std::ostream& out, const Rgba& p);
// Every channel within `tolerance` of the other's.
bool near(const Rgba& a, const Rgba& b, int tolerance = 2);

Rgba readPixelAt(int x, int y, int surface_height);
std::vector<Rgba> readFrame(int width, int height);

class HeadlessRenderer {
public:
    HeadlessRenderer(int width = 320, int height = 180);
    Renderer& renderer() { return instance; }
    int width() const { return w; }
    int height() const { return h; }
    Rgba pixelAt(int x, int y) const { return readPixelAt(x, y, h); }
    std::vector<Rgba> frame() const { return readFrame(w, h); }
    EGLDisplay display() const { return eglGetCurrentDisplay(); }
    EGLContext context() const { return eglGetCurrentContext(); }

private:
    static DisplayOptions optionsFor(int width, int height);
    int w;
    int h;
    Renderer instance;
};

// The EGL handles current on this thread, kept where a plug-in or a video
// player can be given their addresses, as the renderer gives its own.
struct CurrentEglHandles {
    EGLDisplay display = eglGetCurrentDisplay();
    EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
    EGLContext context = eglGetCurrentContext();
};

// The texture bound to GL_TEXTURE_2D.
GLint boundTexture();

// The layer's state for textured draws: identity matrices, the surface
// cleared black, texturing on, vertex and texture-coordinate arrays on, no
// colour array, white.
void prepareTexturedDraws();

class GlTest : public ::testing::Test {
protected:
    HeadlessRenderer gl{320, 180};
};

} // namespace Spectrafox::Test
