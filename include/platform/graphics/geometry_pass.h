#pragma once

#include "base/geometry.h"
#include "platform/graphics/mask_picture.h"

#include <GLES2/gl2.h>

#include <string>

namespace Spectrafox {

// The one extra drawing pass that shapes the picture for the surface: the
// frame is drawn into an offscreen texture of the output's size, then drawn
// once over the whole output through a fragment shader that, for each output
// pixel, finds its place in the region through the inverted keystone warp
// (black outside), samples the stage bilinearly, multiplies it by the blend
// ramps of the edges it lies in and by the mask. One texture fetch for the
// picture, one for the mask, arithmetic for the rest. Render thread only;
// made and deleted while the context is current.
class GeometryPass {
public:
    GeometryPass(int output_width, int output_height);
    ~GeometryPass();
    GeometryPass(const GeometryPass&) = delete;
    GeometryPass& operator=(const GeometryPass&) = delete;

    // False, with the driver's words, when the offscreen target or the
    // program cannot be made; the frame is then drawn straight.
    bool ready(std::string* error);
    // The warp, blend and mask of the frames to come; null for no mask.
    void configure(const Geometry& geometry, const MaskPicture* mask);
    // Directs the frame's drawing into the offscreen texture.
    void beginFrame();
    // Draws the frame onto the output, shaped.
    void finishFrame();

private:
    bool makeTarget(std::string* error);
    bool makeProgram(std::string* error);
    void uploadMask(const MaskPicture& mask);
    void setUniforms();

    int width;
    int height;
    bool built = false;
    bool failed = false;
    GLuint framebuffer = 0;
    GLuint stage_texture = 0;
    GLuint mask_texture = 0;
    GLuint program = 0;
    bool masked = false;
    Geometry geometry;
};

} // namespace Spectrafox
