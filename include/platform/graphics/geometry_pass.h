#pragma once

#include "base/geometry.h"
#include "platform/graphics/light_map.h"

#include <GLES2/gl2.h>

#include <array>
#include <string>

namespace Spectrafox {

// The one extra drawing pass that shapes the picture for the surface. With a
// keystone warp the frame is drawn into an offscreen texture of the
// output's size, then drawn once over the whole output through a fragment
// shader that, for each output pixel, finds its place in the region through
// the inverted warp, samples the stage bilinearly and multiplies it by the
// pixel's light (the blend ramps and the mask, black outside the warped
// region: LightMap): one texture fetch for the picture, one for the light,
// arithmetic for the perspective. Without a warp the frame is drawn
// straight to the output and one draw multiplies it by its light in the
// blender, over no more of the output than the light darkens (a soft edge's
// strip, a mask's extent). Render thread only; made and deleted while the
// context is current.
class GeometryPass {
public:
    GeometryPass(int output_width, int output_height);
    ~GeometryPass();
    GeometryPass(const GeometryPass&) = delete;
    GeometryPass& operator=(const GeometryPass&) = delete;

    // False, with the driver's words, when the offscreen target or the
    // program cannot be made; the frame is then drawn straight.
    bool ready(std::string* error);
    // The warp of the frames to come and their light (of the output's size).
    // False, with the driver's words, when the offscreen target a warp
    // needs cannot be made.
    bool configure(const Geometry& geometry, const LightMap& light, std::string* error);
    // Directs the frame's drawing into the offscreen texture.
    void beginFrame();
    // Draws the frame onto the output, shaped.
    void finishFrame();

private:
    bool makeTarget(std::string* error);
    static bool makeProgram(const char* fragment_source, GLuint* out, std::string* error);
    void uploadLight(const LightMap& light);
    void setUniforms(GLuint program);
    void drawOutput(GLuint program);

    int width;
    int height;
    bool built = false;
    bool failed = false;
    GLuint framebuffer = 0;
    GLuint stage_texture = 0;
    GLuint light_texture = 0;
    GLuint warp_program = 0;
    GLuint light_program = 0;
    bool warped = false;
    // Where the quad is drawn, in clip coordinates: left, bottom, right, top.
    std::array<GLfloat, 4> dimmed{-1, -1, 1, 1};
    Geometry geometry;
};

} // namespace Spectrafox
